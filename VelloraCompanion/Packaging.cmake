# Packaging of the companion with the host and the extension: our own, built into
# apps/extension/dist, unless VELLORA_EXTENSION_DIR names another built extension folder holding
# manifest.json.
#   macOS: the VelloraApp target builds Vellora.app (both programs in Contents/MacOS, the icon
#          and the extension in Contents/Resources).
#   Linux: `cmake --install` puts both programs in <prefix>/lib/vellora, the extension in
#          <prefix>/share/vellora/extension, a .desktop file and the icon.
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

if(APPLE)
  set(app "${CMAKE_BINARY_DIR}/Vellora.app")
  configure_file("${vellora_resources}/Info.plist.in" "${CMAKE_BINARY_DIR}/Vellora-Info.plist"
                 @ONLY)
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
  install(TARGETS VelloraCompanion vellora-native-host RUNTIME DESTINATION lib/vellora)
  if(vellora_extension)
    install(DIRECTORY "${vellora_extension}/" DESTINATION share/vellora/extension)
  endif()
  install(FILES "${vellora_resources}/AppIcon.svg" DESTINATION share/icons/hicolor/scalable/apps
          RENAME vellora.svg)
  # The .desktop file names the installed program, so it is written at install time, when the
  # prefix is known.
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(VELLORA_COMPANION_INSTALLED_PATH \"\${prefix}/lib/vellora/VelloraCompanion\")
    configure_file(\"${vellora_resources}/vellora-companion.desktop.in\"
                   \"\$ENV{DESTDIR}\${prefix}/share/applications/vellora-companion.desktop\" @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${prefix}/share/applications/vellora-companion.desktop\")
  ")
endif()
