# What `cmake --install` puts where on Linux and the BSDs, by the layout of Debian's games: the command on the
# PATH is a launcher that picks the folder the program runs in (launcher/), the program itself lies
# beside its library-like peers, the shipped settings and icon are read-only data, and the desktop finds a menu
# entry, AppStream metadata, icons and a manual page under the application's id.

# The application's reverse-DNS id: the menu entry's, the metadata's and the icons' file name.
set(ORBISK_APP_ID "io.github.tamsel.Orbisk")
set(ORBISK_INSTALL_GAMESDIR "games" CACHE STRING "Folder of the orbisk command, under the prefix")
set(ORBISK_INSTALL_LIBDIR "lib/games/orbisk" CACHE STRING "Folder of the program the command runs, under the prefix")
set(ORBISK_INSTALL_DATADIR "share/games/orbisk" CACHE STRING "Folder of the shipped config.txt and Orbisk.png")
set(ORBISK_COMMAND "${CMAKE_INSTALL_PREFIX}/${ORBISK_INSTALL_GAMESDIR}/orbisk")
set(ORBISK_PROGRAM "${CMAKE_INSTALL_PREFIX}/${ORBISK_INSTALL_LIBDIR}/orbisk")
set(ORBISK_SHIPPED "${CMAKE_INSTALL_PREFIX}/${ORBISK_INSTALL_DATADIR}")
# The launcher is built with those paths.
add_subdirectory(launcher)

# The version's release date, for the metadata, from its entry in CHANGELOG.md; a version without one is not
# ready to be installed.
file(STRINGS "${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md" release REGEX "^## \\[${PROJECT_VERSION}\\] - [0-9-]+$")
if(NOT release)
    message(FATAL_ERROR "CHANGELOG.md has no entry \"## [${PROJECT_VERSION}] - YYYY-MM-DD\" for this version")
endif()
string(REGEX REPLACE ".* - " "" ORBISK_RELEASE_DATE "${release}")

# The project's web address, where it has one: the metadata then names it and the screenshot kept there.
set(ORBISK_HOMEPAGE_URL "" CACHE STRING "The project's web address for the AppStream metadata (empty: none named)")
set(ORBISK_METAINFO_HOMEPAGE "")
if(ORBISK_HOMEPAGE_URL)
    string(REGEX REPLACE "/+$" "" homepage "${ORBISK_HOMEPAGE_URL}")
    string(REPLACE "&" "&amp;" homepage "${homepage}")
    string(REPLACE "<" "&lt;" homepage "${homepage}")
    string(CONCAT ORBISK_METAINFO_HOMEPAGE
        "  <url type=\"homepage\">${homepage}</url>\n"
        "  <screenshots>\n"
        "    <screenshot type=\"default\">\n"
        "      <caption>The shipped world, a few seconds after it started</caption>\n"
        "      <image>${homepage}/raw/v${PROJECT_VERSION}/docs/screenshot.png</image>\n"
        "    </screenshot>\n"
        "  </screenshots>")
endif()

set(desktop "${CMAKE_CURRENT_BINARY_DIR}/desktop")
configure_file(assets/orbisk.desktop.in "${desktop}/${ORBISK_APP_ID}.desktop" @ONLY)
configure_file(assets/orbisk.metainfo.xml.in "${desktop}/${ORBISK_APP_ID}.metainfo.xml" @ONLY)
configure_file(docs/orbisk.6.in "${desktop}/orbisk.6" @ONLY)

install(TARGETS orbisk RUNTIME DESTINATION "${ORBISK_INSTALL_LIBDIR}")
install(TARGETS orbisk_command RUNTIME DESTINATION "${ORBISK_INSTALL_GAMESDIR}")
install(FILES assets/config.txt assets/Orbisk.png DESTINATION "${ORBISK_INSTALL_DATADIR}")
install(FILES "${desktop}/${ORBISK_APP_ID}.desktop" DESTINATION share/applications)
install(FILES "${desktop}/${ORBISK_APP_ID}.metainfo.xml" DESTINATION share/metainfo)
install(FILES "${desktop}/orbisk.6" DESTINATION share/man/man6)

# The icon is drawn once, as SVG; each size the desktop asks for is made from it.
install(FILES assets/orbisk.svg DESTINATION share/icons/hicolor/scalable/apps RENAME "${ORBISK_APP_ID}.svg")
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
    set(icons)
    foreach(size 48 128 256)
        set(icon "${desktop}/icons/${size}/${ORBISK_APP_ID}.png")
        add_custom_command(OUTPUT "${icon}"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${desktop}/icons/${size}"
            COMMAND "${RSVG_CONVERT}" --width=${size} --height=${size} --output "${icon}"
                    "${CMAKE_CURRENT_SOURCE_DIR}/assets/orbisk.svg"
            DEPENDS assets/orbisk.svg VERBATIM)
        list(APPEND icons "${icon}")
        install(FILES "${icon}" DESTINATION share/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(orbisk_icons ALL DEPENDS ${icons})
else()
    message(STATUS "rsvg-convert (Debian package librsvg2-bin) was not found: only the scalable icon is installed")
endif()
