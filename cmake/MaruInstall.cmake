# The version header, the install layout and the Debian package.
#
# Installed tree (GNUInstallDirs, relative to the prefix):
#   bin/maruview, bin/maru
#   share/maruview/examples/*.dev *.raw *.eng     the demo finds them from bin/ as ../share/...
#   share/applications/<id>.desktop, share/metainfo/<id>.metainfo.xml
#   share/icons/hicolor/{scalable,NxN}/apps/<id>.{svg,png}
#   share/man/man1/maruview.1.gz, maru.1.gz       made from --help with help2man
#   share/doc/maruview/copyright, changelog.gz    the license and the changes, as Debian has them
#   share/man/man8/maru-log@.service.8.gz         the service's page (written by hand)
#   lib/systemd/system/maru-log@.service          the logger as a service, one instance per meter
#   lib/systemd/system/maru-sim@.service          a virtual meter for trying it without hardware
#   lib/systemd/system/maru-log@sim.service.d/    the instance "sim" reads that virtual meter
#   lib/sysusers.d/maru-log.conf                  its user
#   share/maruview/examples/systemd/meter.conf    a meter's /etc/maru/NAME.conf, to copy
#   share/maruview/examples/systemd/sim.conf      /etc/maru/sim.conf for the virtual meter
#   share/doc/maruview/README.service             the service for the administrator
# /etc/maru is made by the package's postinst, not installed.
include(GNUInstallDirs)

set(MARU_APP_ID org.maruview.MaruView)
set(MARU_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(MARU_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)

# --- Version header: generated/version.h, refreshed at every build (git describe can change
# without a reconfigure); it is rewritten only when its text changes.
add_custom_target(maru_version ALL
  COMMAND ${CMAKE_COMMAND}
          -DMARU_VERSION=${PROJECT_VERSION}
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DTEMPLATE=${CMAKE_CURRENT_LIST_DIR}/version.h.in
          -DOUTPUT=${MARU_GENERATED_DIR}/version.h
          -P ${CMAKE_CURRENT_LIST_DIR}/WriteVersionHeader.cmake
  BYPRODUCTS ${MARU_GENERATED_DIR}/version.h
  COMMENT "Checking the version header"
  VERBATIM)
foreach(exe maruview maru)
  add_dependencies(${exe} maru_version)
  target_include_directories(${exe} PRIVATE ${MARU_GENERATED_DIR})
endforeach()

# --- Programs and examples
install(TARGETS maruview maru RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/maruview/examples
        FILES_MATCHING PATTERN "*.dev" PATTERN "*.raw" PATTERN "*.eng" PATTERN "*.yml")

# --- The logger as a service (lib/, not the multiarch LIBDIR: systemd looks there)
install(FILES ${MARU_DATA_DIR}/systemd/maru-log@.service ${MARU_DATA_DIR}/systemd/maru-sim@.service
        DESTINATION lib/systemd/system)
install(FILES ${MARU_DATA_DIR}/systemd/maru-log@sim.service.d/simulator.conf
        DESTINATION lib/systemd/system/maru-log@sim.service.d)
install(FILES ${MARU_DATA_DIR}/systemd/maru-log.sysusers DESTINATION lib/sysusers.d RENAME maru-log.conf)
install(FILES ${MARU_DATA_DIR}/systemd/meter.conf ${MARU_DATA_DIR}/systemd/sim.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/maruview/examples/systemd)
install(FILES ${MARU_DATA_DIR}/systemd/README.service DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The service's manual page, compressed as Debian has them.
set(service_page ${MARU_GENERATED_DIR}/man/maru-log@.service.8)
add_custom_command(OUTPUT ${service_page}.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MARU_GENERATED_DIR}/man
  COMMAND ${CMAKE_COMMAND} -E copy ${MARU_DATA_DIR}/man/maru-log@.service.8 ${service_page}
  COMMAND gzip -9nf ${service_page}
  DEPENDS ${MARU_DATA_DIR}/man/maru-log@.service.8
  VERBATIM)
add_custom_target(maru_service_page ALL DEPENDS ${service_page}.gz)
install(FILES ${service_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

# --- The license and the changes (share/doc/maruview, as a Debian package has them)
set(changelog_gz ${MARU_GENERATED_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E copy ${MARU_DATA_DIR}/debian/changelog ${MARU_GENERATED_DIR}/changelog
  COMMAND gzip -9nf ${MARU_GENERATED_DIR}/changelog
  DEPENDS ${MARU_DATA_DIR}/debian/changelog
  VERBATIM)
add_custom_target(maru_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${MARU_DATA_DIR}/debian/copyright ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- Desktop integration
install(FILES ${MARU_DATA_DIR}/${MARU_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MARU_DATA_DIR}/${MARU_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(icon_svg ${MARU_DATA_DIR}/icons/${MARU_APP_ID}.svg)
install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
set(MARU_ICON_SIZES 16 22 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(icon_pngs "")
  foreach(size IN LISTS MARU_ICON_SIZES)
    set(dir ${MARU_GENERATED_DIR}/icons/${size}x${size})
    add_custom_command(
      OUTPUT ${dir}/${MARU_APP_ID}.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${dir}/${MARU_APP_ID}.png ${icon_svg}
      DEPENDS ${icon_svg}
      COMMENT "Drawing the ${size}x${size} icon"
      VERBATIM)
    list(APPEND icon_pngs ${dir}/${MARU_APP_ID}.png)
    install(FILES ${dir}/${MARU_APP_ID}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(maru_icons ALL DEPENDS ${icon_pngs})
else()
  message(WARNING "rsvg-convert not found (scripts/deps installs librsvg2-bin): PNG icons are left out")
endif()

# --- Man pages from --help and --version. maruview makes a QApplication first, so it runs
# offscreen; a sanitizer build must not fail on leaks at exit here.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(man_pages "")
  set(maruview_name "show and record data from in-water optical meters")
  set(maru_name "virtual meter, conversion, ports and logging for MARU View")
  # maru's page also has every command's whole help, made from the commands themselves.
  set(maru_commands_h2m ${MARU_GENERATED_DIR}/man/maru-commands.h2m)
  add_custom_command(
    OUTPUT ${maru_commands_h2m}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MARU_GENERATED_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${CMAKE_COMMAND} -DMARU=$<TARGET_FILE:maru> -DOUTPUT=${maru_commands_h2m}
                             -DCOMMANDS=sim,convert,ports,log -P ${CMAKE_CURRENT_LIST_DIR}/CommandsManual.cmake
    DEPENDS maru ${CMAKE_CURRENT_LIST_DIR}/CommandsManual.cmake
    COMMENT "Writing every maru command's help for its man page"
    VERBATIM)
  set(maruview_extra_include "")
  set(maru_extra_include --include=${maru_commands_h2m})
  set(maruview_extra_depends "")
  set(maru_extra_depends ${maru_commands_h2m})
  foreach(exe maruview maru)
    set(page ${MARU_GENERATED_DIR}/man/${exe}.1)
    # Installed compressed, as Debian has man pages (gzip -n: no name or time inside).
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${MARU_GENERATED_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
              ${HELP2MAN} --no-info --section=1 --name=${${exe}_name}
                          --include=${MARU_DATA_DIR}/man/${exe}.h2m ${${exe}_extra_include}
                          --output=${page} $<TARGET_FILE:${exe}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${exe} ${MARU_DATA_DIR}/man/${exe}.h2m ${${exe}_extra_depends}
      COMMENT "Writing the ${exe}(1) man page"
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(maru_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found (scripts/deps installs it): man pages are left out")
endif()

# --- Debian package: cpack -G DEB in the build folder (scripts/package does it).
# Dependencies come from dpkg-shlibdeps over the installed programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME maruview)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "MARU View developers")
set(MARU_PACKAGE_CONTACT "MARU View developers <maruview@example.org>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${MARU_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer and recorder for in-water optical meters")
set(CPACK_PACKAGE_DESCRIPTION [[
MARU View talks to small in-water optical meters (fluorometers, turbidity
and backscattering meters) on a serial line: it shows their live data in
engineering units, records raw and engineering-units files, and sets the
meter's clock and sampling. The command-line tool maru converts raw
recordings and plays a virtual meter for trying the program without
hardware.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The logger's user and /etc/maru are made at install (systemd-sysusers), systemd learns of
# its units; removal stops the loggers, an upgrade restarts them, purge takes their links.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${MARU_DATA_DIR}/debian/postinst ${MARU_DATA_DIR}/debian/prerm
    ${MARU_DATA_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
