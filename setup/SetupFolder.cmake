# Included by setup/CMakeLists.txt.
#
# 1. Delay-loaded imports of the setup program (cmake/KeloDelayLoad.cmake).
# 2. The delivered setup folder, <build>/delivery/KeloPdfReaderSetup:
#      KeloPdfReaderSetup.exe, install.ini, DuiLib.dll, libcurl.dll,
#      libeay32.dll, ssleay32.dll and the payload folder KeloInstaller
#      (the stand-in reader, Uninst.exe, Update.exe, icon.ico; or the
#      publisher's folder given with KELO_PAYLOAD_DIR).

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
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/write_install_ini.py
  COMMENT "Laying out the delivered setup folder ${delivery}"
  VERBATIM)
add_dependencies(setup_folder KeloPdfReaderSetup duilib ${payload_depends})
