# Install rules and the Debian packages (cpack -G DEB):
#   vcard-parvela        the program, its menu entry, icons, AppStream data and manual pages
#   vcard-parvela-tools  the reference exchange service and the sample database maker (optional)
include(GNUInstallDirs)

set(PV_APP_ID io.github.vcardparvela.VcardParvela)
set(pv_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(pv_gen ${PROJECT_BINARY_DIR}/packaging)
set(pv_icon_sizes 16 22 24 32 48 64 128 256)

# Manual pages and changelogs are installed gzipped (-n: the same bytes at every build).
find_program(PV_GZIP gzip REQUIRED)
function(pv_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${PV_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(pv_gzipped ${pv_gzipped} ${output} PARENT_SCOPE)
endfunction()

set(pv_gzipped)
foreach(page vcard-parvela de/vcard-parvela pv-sampledb pv-exchange-service)
  configure_file(${pv_pkg}/man/${page}.1.in ${pv_gen}/man/${page}.1 @ONLY)
  pv_gzip(${pv_gen}/man/${page}.1 ${pv_gen}/man/${page}.1.gz)
endforeach()
pv_gzip(${pv_pkg}/changelog ${pv_gen}/changelog.gz)
configure_file(${pv_pkg}/${PV_APP_ID}.metainfo.xml.in ${pv_gen}/${PV_APP_ID}.metainfo.xml @ONLY)
add_custom_target(pv_packaging_files ALL DEPENDS ${pv_gzipped})

# The program.
if(TARGET vcard-parvela)
  install(TARGETS vcard-parvela RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  install(FILES ${pv_pkg}/${PV_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT program)
  install(FILES ${pv_gen}/${PV_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT program)
  install(FILES ${pv_pkg}/icons/${PV_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT program)
  foreach(size ${pv_icon_sizes})
    install(FILES ${pv_pkg}/icons/hicolor/${size}x${size}/apps/${PV_APP_ID}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT program)
  endforeach()
  install(FILES ${pv_gen}/man/vcard-parvela.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
  install(FILES ${pv_gen}/man/de/vcard-parvela.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/de/man1 COMPONENT program)
  install(FILES ${pv_pkg}/copyright ${pv_gen}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
endif()

# The tools: enough to try the window and AUTO without Parvela.
install(TARGETS pv-exchange-service pv-sampledb
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(FILES ${pv_gen}/man/pv-sampledb.1.gz ${pv_gen}/man/pv-exchange-service.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${pv_pkg}/copyright ${pv_gen}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vcard-parvela-tools COMPONENT tools)

# CPack: one Debian package per component.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vcard-parvela)
set(CPACK_PACKAGE_VENDOR "The vcard-parvela developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The vcard-parvela developers <vcard-parvela@users.noreply.github.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://github.com/vcardparvela/vcard-parvela)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL program tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends from the shared libraries (dpkg-shlibdeps)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME vcard-parvela)
# Besides the libraries: Qt's German texts for the dialogs, and the Tahoma the window is drawn in.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-wine")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS vcard-parvela-tools)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
    "export the Parvela address table as a vCard file
vcard-parvela reads the address table of the Parvela office product, takes
the e-mail addresses and telephone numbers out of each record and writes one
vCard per record into a single file, for web mail applications and from
there for smartphones. It can write only the records changed since the last
export, in UTF-8 or Windows-1252, from a small German window or without any
window from the command line (AUTO), for example from cron.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME vcard-parvela-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_ENHANCES vcard-parvela)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "sample database and exchange service for trying vcard-parvela
pv-sampledb makes a Parvela address database of made-up records;
pv-exchange-service stands in for Parvela's local exchange service that
tells the vcard-parvela window where the database is. Together they let one
try the program, and test it, without Parvela.")

include(CPack)
