# Installed layout and packages: the Debian package (scripts/package-deb.sh runs cpack -G DEB) and
# the icon of the Windows installer (packaging/windows/).
#
# Debian layout: the two programs live in /usr/libexec/torvane beside the links core_engine.bin ->
# /usr/bin/yt-dlp and media_codec.bin -> /usr/bin/ffmpeg, because the program looks for the media
# tool beside its own executable, and Qt finds that executable through the /usr/bin links at its
# real place. /usr/bin/torvane and /usr/bin/torvane-fetch are relative links into
# /usr/libexec/torvane.

set(TORVANE_APP_ID io.github.torvane.Torvane)
set(torvane_logo ${PROJECT_SOURCE_DIR}/resources/svg/Halvorin_Logo.svg)
set(torvane_package_dir ${CMAKE_BINARY_DIR}/packaging)

function(torvane_render_logo output size)
    get_filename_component(folder ${output} DIRECTORY)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                $<TARGET_FILE:torvane-svgrender> ${torvane_logo} ${output} ${size} ${size}
        DEPENDS torvane-svgrender ${torvane_logo}
        VERBATIM)
endfunction()

# Built on demand by the Windows packaging script and its check here.
torvane_render_logo(${torvane_package_dir}/torvane.ico 256)
add_custom_target(torvane_windows_icon DEPENDS ${torvane_package_dir}/torvane.ico)

if(NOT UNIX OR APPLE)
    return()
endif()

install(TARGETS torvane torvane-fetch torvane-host RUNTIME DESTINATION libexec/torvane)
# Hardened as Debian builds its own packages: checked libc calls where the compiler optimises, and
# the relocation table read-only once the program has started.
foreach(program torvane torvane-fetch torvane-host)
    target_compile_definitions(${program} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
    target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
endforeach()
# Stripped as Debian strips, also of the compiler's notes that CPack's plain strip leaves.
find_program(TORVANE_STRIP NAMES ${CMAKE_STRIP} strip)
install(CODE "
    foreach(program torvane torvane-fetch torvane-host)
        execute_process(COMMAND \"${TORVANE_STRIP}\" --strip-unneeded
            --remove-section=.comment --remove-section=.note
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/libexec/torvane/\${program}\")
    endforeach()")

# Links are made in the build folder and installed as links.
set(link_dir ${torvane_package_dir}/links)
file(MAKE_DIRECTORY ${link_dir}/bin ${link_dir}/libexec)
foreach(program torvane torvane-fetch)
    file(CREATE_LINK ../libexec/torvane/${program} ${link_dir}/bin/${program} SYMBOLIC)
    install(FILES ${link_dir}/bin/${program} DESTINATION bin)
endforeach()
foreach(pair "yt-dlp;core_engine.bin" "ffmpeg;media_codec.bin")
    list(GET pair 0 target)
    list(GET pair 1 name)
    file(CREATE_LINK ../../bin/${target} ${link_dir}/libexec/${name} SYMBOLIC)
    install(FILES ${link_dir}/libexec/${name} DESTINATION libexec/torvane)
endforeach()

# The native messaging host's manifests, where Chromium, Google Chrome and Firefox look for them
# machine-wide, each naming only our extension (the Chromium id that the "key" of
# extension/manifest.json fixes, the Firefox add-on id). Those in /etc are the package's conffiles.
set(TORVANE_CHROMIUM_EXTENSION_ID blkcapoilggmogfhngendadfbpjbcpie)
set(TORVANE_FIREFOX_EXTENSION_ID torvane-extension@torvane.invalid)
set(TORVANE_HOST_PATH /usr/libexec/torvane/torvane-host)
set(host_manifest io.github.torvane.host.json)
foreach(browser chromium firefox)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/linux/native-messaging/${browser}.json.in
        ${torvane_package_dir}/native-messaging/${browser}/${host_manifest} @ONLY)
endforeach()
set(chromium_hosts /etc/chromium/native-messaging-hosts /etc/opt/chrome/native-messaging-hosts)
foreach(folder ${chromium_hosts})
    install(FILES ${torvane_package_dir}/native-messaging/chromium/${host_manifest}
        DESTINATION ${folder})
endforeach()
install(FILES ${torvane_package_dir}/native-messaging/firefox/${host_manifest}
    DESTINATION lib/mozilla/native-messaging-hosts)
list(TRANSFORM chromium_hosts APPEND /${host_manifest} OUTPUT_VARIABLE conffiles)
string(REPLACE ";" "\n" conffiles "${conffiles}")
file(WRITE ${torvane_package_dir}/control/conffiles "${conffiles}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${torvane_package_dir}/control/conffiles)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/lintian-overrides
    DESTINATION share/lintian/overrides RENAME torvane)

# Menu entry, AppStream data and icons in the hicolor theme.
set(linux_dir ${PROJECT_SOURCE_DIR}/packaging/linux)
install(FILES ${linux_dir}/${TORVANE_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${linux_dir}/${TORVANE_APP_ID}.metainfo.xml DESTINATION share/metainfo)
set(icon_files)
foreach(size 16 22 24 32 48 64 128 256 512)
    set(icon ${torvane_package_dir}/icons/${size}x${size}/${TORVANE_APP_ID}.png)
    torvane_render_logo(${icon} ${size})
    list(APPEND icon_files ${icon})
    install(FILES ${icon} DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${torvane_logo} DESTINATION share/icons/hicolor/scalable/apps
    RENAME ${TORVANE_APP_ID}.svg)
add_custom_target(torvane_desktop_icons ALL DEPENDS ${icon_files})

# Manual pages and the package's changelog, compressed without a time stamp so that the package's
# bytes do not depend on when it was built.
find_program(TORVANE_GZIP gzip)
foreach(pair "torvane.1;share/man/man1" "torvane-fetch.1;share/man/man1"
        "changelog;share/doc/torvane")
    list(GET pair 0 name)
    list(GET pair 1 destination)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${linux_dir}/${name})
    if(TORVANE_GZIP)
        execute_process(COMMAND ${TORVANE_GZIP} -9 -n -c ${linux_dir}/${name}
            OUTPUT_FILE ${torvane_package_dir}/${name}.gz)
        install(FILES ${torvane_package_dir}/${name}.gz DESTINATION ${destination})
    endif()
endforeach()
install(FILES ${linux_dir}/copyright DESTINATION share/doc/torvane)

set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VENDOR Halvorin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(TORVANE_PACKAGE_MAINTAINER "Halvorin <torvane@halvorin.invalid>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${TORVANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download manager for files and videos")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Torvane downloads plain files over HTTP and HTTPS in eight parallel parts\n"
    "into one file, and links of video sites and video files through yt-dlp with\n"
    "ffmpeg. Every download is a card with its progress, speed and remaining time;\n"
    "the list survives restarts and the window hides in the tray while downloads\n"
    "go on. The interface speaks Arabic and English.\n"
    "\n"
    "The package also holds torvane-fetch, which downloads one link without a\n"
    "window.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/torvane/torvane)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The Qt and C++ libraries come from dpkg-shlibdeps. What it cannot see: the platform plugins that
# open windows, the TLS back end that Qt loads at run time, the media tool and ffmpeg that the
# links point at, and fonts for Arabic and the emoji on the buttons.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libssl3, yt-dlp, ffmpeg, fonts-noto-core, fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_GENERATOR DEB)
include(CPack)
