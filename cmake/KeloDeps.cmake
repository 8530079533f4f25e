# Imported targets for the dependencies that scripts/build-deps.sh cross-built.
set(_p ${KELO_DEPS_PREFIX})

function(_kelo_import name kind lib)
  if(NOT EXISTS ${_p}/${lib})
    message(FATAL_ERROR "dependency ${name}: ${_p}/${lib} is missing")
  endif()
  add_library(${name} ${kind} IMPORTED GLOBAL)
  if(kind STREQUAL "SHARED")
    set_target_properties(${name} PROPERTIES IMPORTED_IMPLIB ${_p}/${lib})
  else()
    set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${_p}/${lib})
  endif()
  set_target_properties(${name} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_p}/include)
endfunction()

# zlib from Debian's mingw package, always the static archive.
add_library(kelo::zlib STATIC IMPORTED GLOBAL)
set_target_properties(kelo::zlib PROPERTIES IMPORTED_LOCATION /usr/${KELO_MINGW_TRIPLE}/lib/libz.a)

_kelo_import(kelo::minizip STATIC lib/libminizip.a)
set_property(TARGET kelo::minizip APPEND PROPERTY INTERFACE_LINK_LIBRARIES kelo::zlib)
_kelo_import(kelo::jsoncpp STATIC lib/libjsoncpp.a)
_kelo_import(kelo::curl SHARED lib/libcurl.dll.a)
_kelo_import(kelo::gtest STATIC lib/libgtest.a)
_kelo_import(kelo::gmock STATIC lib/libgmock.a)

# The DLLs that travel with the programs.
set(KELO_DEP_DLLS ${_p}/bin/libcurl.dll ${_p}/bin/libeay32.dll ${_p}/bin/ssleay32.dll)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
foreach(dll ${KELO_DEP_DLLS})
  if(EXISTS ${dll})
    file(COPY ${dll} DESTINATION ${CMAKE_BINARY_DIR}/bin)
  endif()
endforeach()
