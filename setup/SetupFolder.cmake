# Included by setup/CMakeLists.txt.
#
# 1. Delay-loaded imports of the setup program (cmake/KeloDelayLoad.cmake).
# 2. The delivered setup folder, <build>/delivery/KeloPdfReaderSetup:
#      KeloPdfReaderSetup.exe, install.ini, DuiLib.dll, libcurl.dll,
#      libeay32.dll, ssleay32.dll and the payload folder KeloInstaller
#      (the stand-in reader, Uninst.exe, Update.exe, icon.ico; or the
#      publisher's folder given with KELO_PAYLOAD_DIR).
# 3. Its programs and DLLs stripped (unstripped copies in <build>/symbols)
#    and, with KELO_SIGN_CERT, signed (setup/finish_delivery.sh).

# ---------------------------------------------------------------- delay-loaded imports

# The network libraries of the machine identifier.
kelo_delay_load(KeloPdfReaderSetup
  "NETAPI32.dll|Netbios@4"
  "IPHLPAPI.DLL|GetAdaptersInfo@8")

# ---------------------------------------------------------------- delivered folder

set(KELO_PRODUCT_APPNAME "KeloPDF阅读器" CACHE STRING "appname written into the delivered install.ini")
set(KELO_PRODUCT_VERSION "1.0.0.1" CACHE STRING "version_str written into the delivered install.ini")
set(KELO_SETUP_CHANNEL "" CACHE STRING "channel written into the delivered install.ini (empty: none)")
find_program(KELO_PYTHON3 python3 HINTS /usr/bin REQUIRED)

set(delivery ${CMAKE_BINARY_DIR}/delivery/KeloPdfReaderSetup)
get_property(product_icon GLOBAL PROPERTY KELO_ICON_setup)

# Code signing. The certificate's password is taken from the environment
# variable KELO_SIGN_PASSWORD at build time, never from the cache.
set(KELO_SIGN_CERT "" CACHE FILEPATH "Publisher's PKCS#12 certificate that signs the delivered folder (empty: unsigned)")
set(KELO_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping server for the signatures (empty: none)")
set(sign_args)
if(KELO_SIGN_CERT)
  if(NOT EXISTS ${KELO_SIGN_CERT})
    message(FATAL_ERROR "KELO_SIGN_CERT=${KELO_SIGN_CERT} does not exist")
  endif()
  find_program(KELO_OSSLSIGNCODE osslsigncode REQUIRED)
  set(sign_args --cert ${KELO_SIGN_CERT} --name "${KELO_PRODUCT_APPNAME}")
  if(KELO_URL_INFO_ABOUT)
    list(APPEND sign_args --url ${KELO_URL_INFO_ABOUT})
  endif()
  if(KELO_SIGN_TIMESTAMP_URL)
    list(APPEND sign_args --timestamp ${KELO_SIGN_TIMESTAMP_URL})
  endif()
endif()
if(NOT CMAKE_STRIP)
  find_program(CMAKE_STRIP ${KELO_MINGW_TRIPLE}-strip REQUIRED)
endif()

# What this build made; a publisher's payload is delivered as it came.
set(stripped KeloPdfReaderSetup.exe DuiLib.dll libcurl.dll libeay32.dll ssleay32.dll)
set(payload_commands)
set(payload_depends)
if(KELO_PAYLOAD_DIR)
  if(NOT IS_DIRECTORY ${KELO_PAYLOAD_DIR})
    message(FATAL_ERROR "KELO_PAYLOAD_DIR=${KELO_PAYLOAD_DIR} is not a folder")
  endif()
  list(APPEND payload_commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${KELO_PAYLOAD_DIR} ${delivery}/KeloInstaller)
else()
  # The stand-in reader; the suite's own uninstaller and updater; the icon
  # named by the uninstall entry.
  list(APPEND payload_commands
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:standin_KeloPdfReader> ${delivery}/KeloInstaller/KeloPdfReader.exe
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Uninst> ${delivery}/KeloInstaller/Uninst.exe
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Update> ${delivery}/KeloInstaller/Update.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${product_icon} ${delivery}/KeloInstaller/icon.ico)
  list(APPEND payload_depends standin_KeloPdfReader Uninst Update)
  list(APPEND stripped KeloInstaller/KeloPdfReader.exe KeloInstaller/Uninst.exe KeloInstaller/Update.exe)
endif()

add_custom_target(setup_folder ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${delivery}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${delivery}/KeloInstaller
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:KeloPdfReaderSetup> ${delivery}/KeloPdfReaderSetup.exe
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:duilib> ${delivery}/DuiLib.dll
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/bin/libcurl.dll ${delivery}/libcurl.dll
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/bin/libeay32.dll ${delivery}/libeay32.dll
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/bin/ssleay32.dll ${delivery}/ssleay32.dll
  ${payload_commands}
  COMMAND ${KELO_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/write_install_ini.py ${delivery}/install.ini
          "${KELO_PRODUCT_APPNAME}" "${KELO_PRODUCT_VERSION}" "${KELO_SETUP_CHANNEL}"
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/finish_delivery.sh --strip ${CMAKE_STRIP}
          --symbols ${CMAKE_BINARY_DIR}/symbols ${sign_args} ${delivery} ${stripped}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/write_install_ini.py ${CMAKE_CURRENT_SOURCE_DIR}/finish_delivery.sh
  COMMENT "Laying out the delivered setup folder ${delivery}"
  VERBATIM)
add_dependencies(setup_folder KeloPdfReaderSetup duilib ${payload_depends})
