# What a Linux desktop installs besides the programs (menu entry, icons,
# AppStream data, man pages, copyright and changelog), and the Debian package
# built from it with CPack. Each program's own install() sits next to its
# target; a program added later (matrix-ctl) is picked up here when its target
# exists, with its man page docs/NAME.1 when there is one.
if(NOT MC_WITH_QT OR NOT UNIX OR APPLE)
    return()
endif()

set(MC_PACKAGE_MAINTAINER "matrix-console maintainers <maintainers@users.noreply.c-seed-7bca40d4.example>")
set(MC_APPSTREAM_ID "example.c_seed_7bca40d4.matrix_console")
# The web address of docs/console.png as published with the source; AppStream
# takes a screenshot only as a web address, so without one there is none.
set(MC_SCREENSHOT_URL "" CACHE STRING "Web address of docs/console.png for the AppStream screenshot")

set(resources ${PROJECT_SOURCE_DIR}/src/resources)
set(debian ${PROJECT_SOURCE_DIR}/cmake/debian)
set(packaging ${PROJECT_BINARY_DIR}/packaging)
# Directories as Debian wants them, whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(programs "")
foreach(program IN ITEMS matrix-console matrix-ctl matrix-edid matrix-hub matrix-switcher-sim)
    if(TARGET ${program})
        list(APPEND programs ${program})
    endif()
endforeach()

# The changelog records each release; its newest entry must be the project's
# version, and it gives the release date.
file(STRINGS ${debian}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^matrix-console \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog: the newest entry is not version ${PROJECT_VERSION}: ${changelog_head}")
endif()
file(STRINGS ${debian}/changelog changelog_sign REGEX "^ -- " LIMIT_COUNT 1)
if(NOT changelog_sign MATCHES "  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "cmake/debian/changelog: no date in the newest entry's sign-off: ${changelog_sign}")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
math(EXPR month "${month} + 1")
if(month LESS 10)
    set(month "0${month}")
endif()
set(MC_RELEASE_DATE "${year}-${month}-${day}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${debian}/changelog)

# AppStream metadata: the version, the programs and the screenshot filled in.
set(MC_APPSTREAM_BINARIES "")
foreach(program IN LISTS programs)
    string(APPEND MC_APPSTREAM_BINARIES "    <binary>${program}</binary>\n")
endforeach()
set(MC_APPSTREAM_SCREENSHOTS "")
if(MC_SCREENSHOT_URL)
    string(CONCAT MC_APPSTREAM_SCREENSHOTS
        "  <screenshots>\n"
        "    <screenshot type=\"default\">\n"
        "      <caption>The routing page after a search found the switcher</caption>\n"
        "      <image>${MC_SCREENSHOT_URL}</image>\n"
        "    </screenshot>\n"
        "  </screenshots>\n")
endif()
configure_file(${resources}/matrix-console.metainfo.xml.in ${packaging}/${MC_APPSTREAM_ID}.metainfo.xml @ONLY)

# Man pages and the changelog are installed compressed, as Debian wants them;
# -n keeps the name and time out, so the package is reproducible.
set(compressed "")
function(mc_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND gzip -9 -n -c ${source} > ${output}
        DEPENDS ${source}
        COMMENT "Compressing ${source}"
        VERBATIM)
    set(compressed ${compressed} ${output} PARENT_SCOPE)
endfunction()
set(man_pages "")
foreach(program IN LISTS programs)
    if(EXISTS ${PROJECT_SOURCE_DIR}/docs/${program}.1)
        mc_gzip(${PROJECT_SOURCE_DIR}/docs/${program}.1 ${packaging}/man/${program}.1.gz)
        list(APPEND man_pages ${packaging}/man/${program}.1.gz)
    endif()
endforeach()
mc_gzip(${debian}/changelog ${packaging}/changelog.gz)
add_custom_target(mc_packaging_files ALL DEPENDS ${compressed})

install(FILES ${resources}/matrix-console.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${resources}/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${resources}/application.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME matrix-console.svg)
install(FILES ${packaging}/${MC_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${debian}/copyright ${packaging}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
# matrix-ctl(1) points here for its JSON output.
if(TARGET matrix-ctl)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/matrix-ctl-json.md ${PROJECT_SOURCE_DIR}/docs/matrix-ctl.schema.json
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# matrix-hub runs as a service: its unit (installed, not enabled), its
# settings file (a conffile, the link and listeners commented out until the
# administrator sets them) and the maintainer scripts that make its system
# user.
set(hub_resources ${resources}/hub)
if(TARGET matrix-hub)
    install(FILES ${hub_resources}/matrix-hub.service DESTINATION /lib/systemd/system)
    install(FILES ${hub_resources}/matrix-hub.conf DESTINATION /etc/matrix-hub)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${hub_resources}/postinst ${hub_resources}/postrm ${hub_resources}/conffiles)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
endif()

# The Debian package: matrix-console_VERSION_ARCH.deb. The run-time
# dependencies come from dpkg-shlibdeps (Qt's platform plugins for X11 and
# Wayland ship inside libqt6gui6, which it finds).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME matrix-console)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${MC_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MC_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control console for a 16x16 HDMI matrix switcher over RS-232 or TCP")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "matrix-console drives a 16-input, 16-output HDMI 2.0 matrix switcher with\n"
    "its ASCII text commands on a serial line (57600 baud, 8N1) or over the\n"
    "network (TCP). It opens a serial port, searches COM1 to COM99 for a\n"
    "switcher that answers or connects to the switcher's network port, then\n"
    "routes any input to any output, picks the EDID each input presents, reads\n"
    "an EDID back into a file with a decoded summary, uploads an EDID file into\n"
    "a user slot, sets the switcher's network parameters and mutes or un-mutes\n"
    "each output's audio. Its traffic monitor shows every command and reply.\n"
    "\n"
    "Also included: matrix-ctl, which sends the switcher's commands from a\n"
    "shell or a script and reports the outcome as text or JSON; matrix-edid,\n"
    "which decodes and checks EDID files as the console does;\n"
    "matrix-switcher-sim, which plays the switcher on a pseudo-terminal, a\n"
    "serial device or TCP, for trying the console without the hardware; and\n"
    "matrix-hub, a service that owns the switcher's link and shares it with\n"
    "several consoles and scripts on the switcher's own text protocol.")
include(CPack)
