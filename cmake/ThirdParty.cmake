# Imported third-party parts, all built from Debian's sources or headers.

# boost: headers only, through a folder that holds nothing but boost, so the
# host's /usr/include never reaches the cross compiler.
set(ORVANE_BOOST_INCLUDE "${CMAKE_BINARY_DIR}/boost-include")
if(NOT EXISTS "${ORVANE_BOOST_INCLUDE}/boost")
  file(MAKE_DIRECTORY "${ORVANE_BOOST_INCLUDE}")
  file(CREATE_LINK /usr/include/boost "${ORVANE_BOOST_INCLUDE}/boost" SYMBOLIC)
endif()
add_library(orvane_boost INTERFACE)
target_include_directories(orvane_boost SYSTEM INTERFACE "${ORVANE_BOOST_INCLUDE}")
target_compile_definitions(orvane_boost INTERFACE BOOST_ALL_NO_LIB)
add_library(orvane::boost ALIAS orvane_boost)

# libcurl, static, Schannel TLS, built by tools/deps.sh with 64 KiB write
# pieces; its users see the same figure.
add_library(orvane_curl INTERFACE)
target_include_directories(orvane_curl SYSTEM INTERFACE "${ORVANE_CURL_ROOT}/include")
target_compile_definitions(orvane_curl INTERFACE CURL_STATICLIB CURL_MAX_WRITE_SIZE=65536)
target_link_libraries(orvane_curl INTERFACE "${ORVANE_CURL_ROOT}/lib/libcurl.a"
  bcrypt advapi32 crypt32 /usr/i686-w64-mingw32/lib/libz.a ws2_32)
add_library(orvane::curl ALIAS orvane_curl)

# 7-Zip's console command processor. Its formats and codecs register through
# static objects, so the whole archive must be linked or they are dropped.
add_library(orvane_7zcon INTERFACE)
target_link_libraries(orvane_7zcon INTERFACE
  -Wl,--whole-archive "${ORVANE_7ZIP_ROOT}/lib/lib7zcon.a" -Wl,--no-whole-archive
  oleaut32 uuid advapi32 user32 ole32 shell32)
add_library(orvane::7zcon ALIAS orvane_7zcon)

# What a bridge source compiled against 7-Zip's own headers needs.
file(READ "${ORVANE_7ZIP_ROOT}/cflags.txt" ORVANE_7ZIP_CFLAGS)
string(STRIP "${ORVANE_7ZIP_CFLAGS}" ORVANE_7ZIP_CFLAGS)
separate_arguments(ORVANE_7ZIP_CFLAGS)
set(ORVANE_7ZIP_INCLUDE "${ORVANE_7ZIP_ROOT}/src/CPP")
