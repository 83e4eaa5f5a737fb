# The download manifests the installer carries (resources "xml" 501 and 502).
# A release build carries the shipped packages' manifests. With
# ORVANE_LOCAL_MIRRORS the installer's manifests name loopback mirrors
# (ORVANE_MIRROR_NET.2 to .8) serving packages built here from the stand-in
# product files, one for each product (501 the 32-bit one, 502 the 64-bit one),
# with their real digests; the tests, the benchmark and tools/run.sh serve
# them with tests/downloader/mirror_fixture.py.
option(ORVANE_LOCAL_MIRRORS "carry manifests naming loopback mirrors with a package built here" OFF)

# Loopback net of a tree: 127.X.Y with X and Y from a digest of its path, the
# same rule as the engine's test mirrors.
function(orvane_loopback_net out path)
  string(MD5 digest "${path}")
  string(SUBSTRING "${digest}" 0 2 x)
  string(SUBSTRING "${digest}" 2 2 y)
  math(EXPR x "0x${x} % 254 + 1")
  math(EXPR y "0x${y} % 254 + 1")
  set(${out} 127.${x}.${y} PARENT_SCOPE)
endfunction()

set(ORVANE_LOCAL_MIRROR_DIR ${CMAKE_BINARY_DIR}/local-mirrors CACHE INTERNAL "folder of the local mirrors and their package")
orvane_loopback_net(local_net "${ORVANE_LOCAL_MIRROR_DIR}")
set(ORVANE_MIRROR_NET ${local_net} CACHE STRING "loopback net of the local mirrors (127.X.Y)")
# The statistics service of a local-mirrors build: http://NET.109:PORT.
set(ORVANE_LOCAL_STATS_PORT 18191 CACHE STRING "port of the local statistics service")

# Rule for the local packages and their manifests (needs the stand-ins, which
# come with the test suite, and the package builder).
function(orvane_local_package_rule)
  if(TARGET orvane_local_package)
    return()
  endif()
  set(dir ${ORVANE_LOCAL_MIRROR_DIR})
  set_property(GLOBAL PROPERTY ORVANE_LOCAL_PACKAGE_RULE 1)
  add_custom_command(
    OUTPUT ${dir}/manifest_local.xml ${dir}/manifest_local_x64.xml ${dir}/manifest_dead.xml
           ${dir}/www/download/orvane_setup.exe ${dir}/www/download/orvane_setup_x64.exe
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/manifests/local_package.sh ${dir} ${ORVANE_MIRROR_NET}
            $<TARGET_FILE:mkpackage> ${CMAKE_BINARY_DIR}/standins ${CMAKE_BINARY_DIR}/standins/unins000.exe
    DEPENDS mkpackage standin_orvane standin_orvane32 standin_unins000
            ${CMAKE_SOURCE_DIR}/tools/manifests/local_package.sh ${CMAKE_SOURCE_DIR}/tools/manifests/make_manifest.py
    COMMENT "Local mirrors: packages and manifests"
    VERBATIM)
  add_custom_target(orvane_local_package DEPENDS ${dir}/manifest_local.xml ${dir}/manifest_local_x64.xml)
endfunction()

# Writes OUT_RC naming the two manifests for the installer's resource script.
function(orvane_manifest_rc out_rc x86 x64)
  file(WRITE ${out_rc}.tmp "501 xml \"${x86}\"\n502 xml \"${x64}\"\n")
  configure_file(${out_rc}.tmp ${out_rc} COPYONLY)
endfunction()
