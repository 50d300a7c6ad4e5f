# The Linux install and the Debian package made from it (CPack DEB).
#
#   scripts/package.sh     builds the programs of the release build and writes
#                          build/release/vellora_<version>_<arch>.deb
#   (`cmake --build --preset release --target package` does the same after building everything)
#
# Installed (paths below the prefix, /usr for the package):
#   lib/vellora/{VelloraCompanion,vellora-native-host,vellora-client}   the programs, side by side
#   bin/vellora-client, bin/vellora-companion                          links to them
#   share/vellora/extension                    the built extension, from VELLORA_EXTENSION_DIR or
#                                              apps/extension/dist (left out, with a warning at
#                                              install time, when that holds no manifest.json)
#   share/applications/vellora-companion.desktop, share/icons/hicolor/*/apps/vellora.{png,svg},
#   share/metainfo/com.vellora.companion.metainfo.xml, share/doc/vellora/{copyright,changelog.gz}
#   <sysconfdir>/chromium/native-messaging-hosts, <sysconfdir>/opt/chrome/native-messaging-hosts,
#   <sysconfdir>/opt/edge/native-messaging-hosts: the system-wide host manifest for the packaged
#   extension's fixed ID, naming lib/vellora/vellora-native-host (conffiles in the package;
#   sysconfdir is /etc for the prefix /usr)
set(VELLORA_PACKAGED_EXTENSION_ID "gdhafjcfghdlkpdfaieinlkfnddbcblg" CACHE STRING
    "The fixed ID of the packaged extension, allowed by the system-wide host manifests")
# Qt's X11 window class of the companion (its application name); the desktop file's
# StartupWMClass must match it.
set(VELLORA_WINDOW_CLASS "Vellora")

set(generated "${CMAKE_BINARY_DIR}/package-files")
configure_file("${vellora_resources}/com.vellora.companion.metainfo.xml"
               "${generated}/com.vellora.companion.metainfo.xml" @ONLY)

# The files that name installed paths are written when installing, once the prefix is known
# (`cmake --install --prefix`, /usr for the package). The system configuration folder is /etc
# for the prefix /usr, else <prefix>/etc.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(VELLORA_COMPANION_INSTALLED_PATH \"\${prefix}/lib/vellora/VelloraCompanion\")
  set(VELLORA_HOST_INSTALLED_PATH \"\${prefix}/lib/vellora/vellora-native-host\")
  set(VELLORA_EXTENSION_ID \"${VELLORA_PACKAGED_EXTENSION_ID}\")
  set(VELLORA_WINDOW_CLASS \"${VELLORA_WINDOW_CLASS}\")
  set(work \"${generated}/install\")
  configure_file(\"${vellora_resources}/vellora-companion.desktop.in\"
                 \"\${work}/vellora-companion.desktop\" @ONLY)
  configure_file(\"${vellora_resources}/native-messaging-host.json.in\"
                 \"\${work}/com.vellora.companion.json\" @ONLY)
  file(INSTALL \"\${work}/vellora-companion.desktop\"
       DESTINATION \"\${prefix}/share/applications\")
  if(prefix STREQUAL \"/usr\")
    set(sysconf /etc)
  else()
    set(sysconf \"\${prefix}/etc\")
  endif()
  foreach(folder chromium/native-messaging-hosts opt/chrome/native-messaging-hosts
                 opt/edge/native-messaging-hosts)
    file(INSTALL \"\${work}/com.vellora.companion.json\" DESTINATION \"\${sysconf}/\${folder}\")
  endforeach()
")

install(TARGETS VelloraCompanion vellora-native-host RUNTIME DESTINATION lib/vellora)
# vellora-client: installed beside them from tools/.
install(CODE "
  set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
  file(MAKE_DIRECTORY \"\${bin}\")
  foreach(pair vellora-client:vellora-client vellora-companion:VelloraCompanion)
    string(REPLACE \":\" \";\" pair \"\${pair}\")
    list(GET pair 0 name)
    list(GET pair 1 target)
    file(CREATE_LINK \"../lib/vellora/\${target}\" \"\${bin}/\${name}\" SYMBOLIC)
    message(STATUS \"Installing: \${bin}/\${name} -> ../lib/vellora/\${target}\")
  endforeach()
")

# The extension is looked for when installing, so that one built after configuring is taken.
set(vellora_extension_source "${VELLORA_EXTENSION_DIR}")
if(NOT vellora_extension_source)
  set(vellora_extension_source "${PROJECT_SOURCE_DIR}/apps/extension/dist")
endif()
install(CODE "
  set(source \"${vellora_extension_source}\")
  if(EXISTS \"\${source}/manifest.json\")
    file(INSTALL \"\${source}/\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/vellora/extension\")
  else()
    message(WARNING \"\${source} holds no manifest.json: the extension is left out\")
  endif()
")

install(FILES "${generated}/com.vellora.companion.metainfo.xml" DESTINATION share/metainfo)
install(FILES "${vellora_resources}/AppIcon.svg" DESTINATION share/icons/hicolor/scalable/apps
        RENAME vellora.svg)
set(icon_files)
foreach(size 16 32 48 64 128 256 512)
  set(png "${generated}/icons/${size}x${size}/vellora.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${generated}/icons/${size}x${size}"
    COMMAND RenderIcon "${vellora_resources}/AppIcon.svg" ${size} "${png}"
    DEPENDS RenderIcon "${vellora_resources}/AppIcon.svg"
    VERBATIM)
  list(APPEND icon_files "${png}")
  install(FILES "${png}" DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(VelloraIcons ALL DEPENDS ${icon_files})

add_custom_command(OUTPUT "${generated}/changelog.gz"
  COMMAND gzip -9nc "${vellora_resources}/changelog" > "${generated}/changelog.gz"
  DEPENDS "${vellora_resources}/changelog"
  VERBATIM)
add_custom_target(VelloraChangelog ALL DEPENDS "${generated}/changelog.gz")
install(FILES "${vellora_resources}/copyright" "${generated}/changelog.gz"
        DESTINATION share/doc/vellora)
install(FILES "${vellora_resources}/lintian-overrides" DESTINATION share/lintian/overrides
        RENAME vellora)

set(conffiles "")
foreach(folder chromium opt/chrome opt/edge)
  string(APPEND conffiles "/etc/${folder}/native-messaging-hosts/com.vellora.companion.json\n")
endforeach()
file(WRITE "${generated}/conffiles" "${conffiles}")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "vellora")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "The Vellora developers <developers@vellora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Codex coding agent in Chromium-family browsers")
set(CPACK_PACKAGE_DESCRIPTION
    "Vellora puts the Codex coding agent into a sidebar of Chromium, Google\n"
    "Chrome or Microsoft Edge. The package holds the browser extension, the\n"
    "native messaging host that connects it to Codex for every user, a desktop\n"
    "companion that checks and repairs the setup, and the terminal client\n"
    "vellora-client.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "web")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "chromium | google-chrome-stable")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${generated}/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
