# Installing quilm on Linux: the program, its systemd unit, the msr module loaded at
# boot, the desktop entry started through pkexec with its polkit action, the icon
# (drawn at build time by tools/make_icon) and the man page; and the Debian package
# made from the same rules with CPack. Every DESTINATION is relative, so an install
# with --prefix or DESTDIR stays inside the directory it is given.
include(GNUInstallDirs)
find_package(PNG REQUIRED)
find_package(PkgConfig QUIET)

# The settings file of an installed program lies in the system configuration directory
# (/etc for the prefix /usr, <prefix>/etc otherwise), where the unit looks for it. A program
# run from its build or unpacked folder keeps it beside the executable; one built with
# QUILM_SYSTEM_CONFIG always uses the installed file.
set(QUILM_SETTINGS_PATH ${CMAKE_INSTALL_FULL_SYSCONFDIR}/quilm.cfg)
target_compile_definitions(quilm_app PRIVATE QUILM_SETTINGS_FILE="${QUILM_SETTINGS_PATH}")
if(NOT QUILM_SYSTEM_CONFIG)
    target_compile_definitions(quilm_app PRIVATE QUILM_INSTALLED_BINDIR="${CMAKE_INSTALL_FULL_BINDIR}")
endif()
set(QUILM_MAINTAINER "quilm developers <dev@quilm.invalid>" CACHE STRING
    "The Debian package's Maintainer field: a name and a mail address")
set(QUILM_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}/quilm)
set(QUILM_PKEXEC ${CMAKE_INSTALL_FULL_LIBEXECDIR}/quilm/quilm-pkexec)

include(${CMAKE_CURRENT_LIST_DIR}/systemd_dirs.cmake)
quilm_systemd_dir(QUILM_SYSTEMD_UNIT_DIR systemdsystemunitdir lib/systemd/system)
quilm_systemd_dir(QUILM_MODULES_LOAD_DIR modulesloaddir lib/modules-load.d)

# The icon, drawn with the toolkit's primitives, palette and font.
add_executable(make_icon tools/make_icon.cpp)
target_link_libraries(make_icon PRIVATE "$<LINK_GROUP:RESCAN,quilm_toolkit,quilm_window_headless,quilm_os>"
    PNG::PNG)
set(QUILM_ICON_SIZES 48 64 96 128 192 256)
set(QUILM_ICONS)
foreach(size ${QUILM_ICON_SIZES})
    list(APPEND QUILM_ICONS ${CMAKE_BINARY_DIR}/icons/${size}x${size}/quilm.png)
endforeach()
add_custom_command(OUTPUT ${QUILM_ICONS}
    COMMAND make_icon ${CMAKE_BINARY_DIR}/icons ${QUILM_ICON_SIZES}
    DEPENDS make_icon COMMENT "quilm.png in ${QUILM_ICON_SIZES} pixels")

# The data files, with this build's paths written in.
set(QUILM_UNIT_FILE ${CMAKE_INSTALL_PREFIX}/${QUILM_SYSTEMD_UNIT_DIR}/quilm.service)
set(QUILM_METRICS_UNIT_FILE ${CMAKE_INSTALL_PREFIX}/${QUILM_SYSTEMD_UNIT_DIR}/quilm-metrics.service)
set(QUILM_MODULES_FILE ${CMAKE_INSTALL_PREFIX}/${QUILM_MODULES_LOAD_DIR}/quilm.conf)
set(QUILM_DESKTOP_FILE ${CMAKE_INSTALL_FULL_DATADIR}/applications/quilm.desktop)
set(QUILM_DIST ${CMAKE_BINARY_DIR}/dist)
foreach(unit quilm.service quilm-confirm.service quilm-confirm.timer quilm-pkexec quilm-metrics.service)
    configure_file(dist/${unit}.in ${QUILM_DIST}/${unit} @ONLY)
endforeach()
configure_file(dist/quilm.desktop.in ${QUILM_DIST}/quilm.desktop @ONLY)
configure_file(dist/org.quilm.policy.in ${QUILM_DIST}/org.quilm.policy @ONLY)
configure_file(dist/quilm.8.in ${QUILM_DIST}/quilm.8 @ONLY)
# Man pages and the changelog are installed compressed, as Debian's are; -n leaves out the
# time, so that the same text gives the same file.
find_program(QUILM_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${QUILM_DIST}/quilm.8.gz
    COMMAND ${QUILM_GZIP} -9nc ${QUILM_DIST}/quilm.8 > ${QUILM_DIST}/quilm.8.gz
    DEPENDS ${QUILM_DIST}/quilm.8 VERBATIM)
add_custom_command(OUTPUT ${QUILM_DIST}/changelog.gz
    COMMAND ${QUILM_GZIP} -9nc ${CMAKE_SOURCE_DIR}/dist/changelog > ${QUILM_DIST}/changelog.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/dist/changelog VERBATIM)
add_custom_target(quilm_data ALL DEPENDS ${QUILM_ICONS} ${QUILM_DIST}/quilm.8.gz ${QUILM_DIST}/changelog.gz)

install(TARGETS quilm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUILM_DIST}/quilm.service ${QUILM_DIST}/quilm-confirm.service ${QUILM_DIST}/quilm-confirm.timer
    ${QUILM_DIST}/quilm-metrics.service DESTINATION ${QUILM_SYSTEMD_UNIT_DIR})
install(FILES dist/modules-load.conf DESTINATION ${QUILM_MODULES_LOAD_DIR} RENAME quilm.conf)
install(FILES ${QUILM_DIST}/quilm.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(PROGRAMS ${QUILM_DIST}/quilm-pkexec DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quilm)
install(FILES ${QUILM_DIST}/org.quilm.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
install(FILES ${QUILM_DIST}/quilm.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES dist/copyright ${QUILM_DIST}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quilm)
install(FILES dist/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quilm)
foreach(size ${QUILM_ICON_SIZES})
    install(FILES ${CMAKE_BINARY_DIR}/icons/${size}x${size}/quilm.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The Debian package: cpack -G DEB in the build folder, or the target package-deb. It holds the
# files above and no maintainer scripts: installing it enables and starts nothing. The
# maintainer is QUILM_MAINTAINER (-DQUILM_MAINTAINER="Name <address>" at configure time).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quilm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUILM_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show and edit the P-state definitions of AMD processors")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX}) # the paths written into the files above
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop entry starts the window through pkexec, Debian 12's package of it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS pkexec)
# The stability test runs on stress-ng; quilm works without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS stress-ng)
# The long description, below the summary; CPack indents it as the control file wants.
set(CPACK_PACKAGE_DESCRIPTION "quilm shows the P-state definition registers of AMD processors of family 10h
and later (enable bit, core multiplier, core voltage, northbridge voltage or
P-state) in a small window, and writes edited definitions to every core,
checking that the processor took them. It writes only processor layouts it
knows for certain.

The command line lists the table, applies or saves the settings file
without a window, and checks whether this system allows the writes. The
package ships a systemd unit that applies the saved settings at boot and
after resume. Nothing is enabled on installation.")
include(CPack)

add_custom_target(package-deb
    COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "the Debian package quilm_${PROJECT_VERSION}_<arch>.deb" VERBATIM)
add_dependencies(package-deb quilm quilm_data)
