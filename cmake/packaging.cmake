# Packages. Windows: a zip with vtx_fwupdate.exe, vtx_bridge.exe, a sample
# config.ini and the README. Linux: a Debian package with both programs in
# /usr/bin, their manual pages and the documents. scripts/package.sh builds
# them, scripts/package-check.sh checks them.
#
# Everything the packages hold is installed in the component "vtx"; the
# packages take that component alone, so no test program or helper tool ever
# lands in one.
include(GNUInstallDirs)

if(NOT TARGET vtx_fwupdate OR NOT TARGET vtx_bridge)
    return()
endif()

set(VTX_PACKAGE_NAME vtx-fwupdate)  # Debian package names take no underscore
# The documents the README links to, installed in docs/ beside it so that
# every link of the installed README leads somewhere.
set(linked_docs)
foreach(doc imagemaker linux simulated-run simulator trace vm-rig vtx_bridge)
    list(APPEND linked_docs ${PROJECT_SOURCE_DIR}/docs/${doc}.md)
endforeach()
list(APPEND linked_docs ${PROJECT_SOURCE_DIR}/docs/vtx_bridge.schema.json)
set(package_dir ${PROJECT_BINARY_DIR}/package)

if(WIN32)
    # Flat, as the tool wants it: config.ini lies beside vtx_fwupdate.exe.
    install(TARGETS vtx_fwupdate vtx_bridge RUNTIME DESTINATION . COMPONENT vtx)
    file(WRITE ${package_dir}/config.ini
         "; vtx_fwupdate reads this file beside vtx_fwupdate.exe. Set the files of\n"
         "; one update here, or give them on the command line. Values without a drive\n"
         "; or a leading separator are taken from this directory.\n"
         "[Firmware]\n"
         "bin=fw_v1.2.4.061524.bin\n"
         "rescuebin=rescue.bin\n"
         "cfg=bridge.cfg\n"
         "led=led.bin\n")
    install(FILES ${package_dir}/config.ini ${PROJECT_SOURCE_DIR}/README.md DESTINATION .
            COMPONENT vtx)
    install(FILES ${linked_docs} DESTINATION docs COMPONENT vtx)
else()
    install(TARGETS vtx_fwupdate vtx_bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT vtx)
    # Manual pages go compressed, as Debian keeps them; -n leaves name and
    # time out, so the same page always gives the same bytes.
    set(pages)
    foreach(page vtx_fwupdate vtx_bridge)
        set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
        set(compressed ${package_dir}/man/${page}.1.gz)
        add_custom_command(
            OUTPUT ${compressed}
            COMMAND ${CMAKE_COMMAND} -E copy ${source} ${package_dir}/man/${page}.1
            COMMAND gzip -9 -n -f ${package_dir}/man/${page}.1
            DEPENDS ${source}
            COMMENT "Compressing the manual page ${page}.1"
            VERBATIM)
        list(APPEND pages ${compressed})
    endforeach()
    add_custom_target(vtx_manpages ALL DEPENDS ${pages})
    install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT vtx)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VTX_PACKAGE_NAME} COMPONENT vtx)
    install(FILES ${linked_docs}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VTX_PACKAGE_NAME}/docs COMPONENT vtx)
endif()

set(CPACK_PACKAGE_NAME ${VTX_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "vtx_fwupdate")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vtx_fwupdate maintainers <vtx-fwupdate@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "firmware update tool for USB-to-storage bridge chips")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "vtx_fwupdate updates the firmware of a USB-to-storage bridge chip through SCSI\n"
    "pass-through: a staged update over the bridge's rescue firmware, with every\n"
    "flash write read back. vtx_bridge, its companion, lists bridges, shows their\n"
    "state and parameters and checks update files, with JSON output for scripts.")
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};vtx;/")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME vtx_fwupdate-${PROJECT_VERSION}-win64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION admin)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The manual pages are read with man.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS man-db)
endif()

include(CPack)
