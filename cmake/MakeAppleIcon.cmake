# Renders the SVG application icon into an .icns on macOS (cmake -P, with SVG, ICNS and WORK):
# Quick Look draws the SVG at 1024 pixels, sips scales it, iconutil packs the set.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND qlmanage -t -s 1024 -o "${WORK}" "${SVG}" OUTPUT_QUIET ERROR_QUIET)
get_filename_component(name "${SVG}" NAME)
set(master "${WORK}/${name}.png")
if(NOT EXISTS "${master}")
  message(WARNING "Could not render ${SVG}; the bundle has no .icns")
  return()
endif()
foreach(size 16 32 128 256 512)
  math(EXPR double "${size} * 2")
  execute_process(COMMAND sips -z ${size} ${size} "${master}" --out
                  "${WORK}/icon_${size}x${size}.png" OUTPUT_QUIET)
  execute_process(COMMAND sips -z ${double} ${double} "${master}" --out
                  "${WORK}/icon_${size}x${size}@2x.png" OUTPUT_QUIET)
endforeach()
file(REMOVE "${master}")
execute_process(COMMAND iconutil -c icns "${WORK}" -o "${ICNS}")
