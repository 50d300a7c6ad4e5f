# Packaging of the companion with the host and the extension: our own, built into
# apps/extension/dist, unless VELLORA_EXTENSION_DIR names another built extension folder holding
# manifest.json.
#   macOS: the VelloraApp target builds Vellora.app (both programs in Contents/MacOS, the icon
#          and the extension in Contents/Resources).
#   Linux: `cmake --install` and the Debian package: see DebianPackage.cmake.
set(VELLORA_EXTENSION_DIR "" CACHE PATH
    "A built Chrome extension folder (holding manifest.json) to package with the companion")
set(vellora_extension "")
if(VELLORA_EXTENSION_DIR)
  if(EXISTS "${VELLORA_EXTENSION_DIR}/manifest.json")
    set(vellora_extension "${VELLORA_EXTENSION_DIR}")
  else()
    message(WARNING "VELLORA_EXTENSION_DIR has no manifest.json; no extension is packaged")
  endif()
elseif(VELLORA_BUILD_EXTENSION)
  set(vellora_extension "${VELLORA_EXTENSION_DIST}")
endif()
set(vellora_resources "${PROJECT_SOURCE_DIR}/VelloraCompanion/Resources")

# The bundle's Info.plist, made on every platform so that the test suite checks it here too.
configure_file("${vellora_resources}/Info.plist.in" "${CMAKE_BINARY_DIR}/Vellora-Info.plist.in"
               @ONLY)
file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/Vellora-Info.plist"
     INPUT "${CMAKE_BINARY_DIR}/Vellora-Info.plist.in")

if(APPLE)
  set(app "${CMAKE_BINARY_DIR}/Vellora.app")
  set(copy_extension "")
  if(vellora_extension)
    set(copy_extension COMMAND ${CMAKE_COMMAND} -E copy_directory "${vellora_extension}"
                       "${app}/Contents/Resources/extension")
  endif()
  add_custom_target(VelloraApp ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${app}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${app}/Contents/MacOS" "${app}/Contents/Resources"
    COMMAND ${CMAKE_COMMAND} -E copy "${CMAKE_BINARY_DIR}/Vellora-Info.plist"
            "${app}/Contents/Info.plist"
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VelloraCompanion> $<TARGET_FILE:vellora-native-host>
            "${app}/Contents/MacOS/"
    COMMAND ${CMAKE_COMMAND} -DSVG=${vellora_resources}/AppIcon.svg
            -DICNS=${app}/Contents/Resources/AppIcon.icns -DWORK=${CMAKE_BINARY_DIR}/AppIcon.iconset
            -P "${PROJECT_SOURCE_DIR}/cmake/MakeAppleIcon.cmake"
    ${copy_extension}
    DEPENDS VelloraCompanion vellora-native-host
    VERBATIM)
  if(TARGET extension)
    add_dependencies(VelloraApp extension)
  endif()
else()
  include("${CMAKE_CURRENT_LIST_DIR}/DebianPackage.cmake")
endif()
