# SPDX-License-Identifier: GPL-3.0-or-later
# Installing like a desktop program: both programs, the disc's autorun.sh, icons in the hicolor
# theme, menu entries, the MIME type of the archives, manual pages, systemd user units, bash
# completion, AppStream metadata, and a Debian package through CPack.
include(GNUInstallDirs)

set(HALVEX_ICON_SIZES 16 24 32 48 64 128 256)
set(HALVEX_PROGRAMS halvex-backup halvex-restore)

install(TARGETS ${HALVEX_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(share ${CMAKE_INSTALL_DATADIR})
# Data, not a command: the copy-to-CD task of an installed copy finds it in share/halvex
# (HALVEX_DATA_FROM_BINDIR) and burns it beside halvex-restore.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/resources/autorun.sh DESTINATION ${share}/halvex)

# Compressed without a name or time stamp, so that two builds give the same bytes.
function(halvex_gzip input output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9nc ${input} > ${output}
    DEPENDS ${input} VERBATIM)
endfunction()

set(docs)
foreach(program ${HALVEX_PROGRAMS})
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/${program}.svg
          DESTINATION ${share}/icons/hicolor/scalable/apps)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/${program}.desktop DESTINATION ${share}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/${program}
          DESTINATION ${share}/bash-completion/completions)
  configure_file(${PROJECT_SOURCE_DIR}/resources/man/${program}.1 ${CMAKE_BINARY_DIR}/man/${program}.1 @ONLY)
  halvex_gzip(${CMAKE_BINARY_DIR}/man/${program}.1 ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  list(APPEND docs ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/halvex-mime.xml
        DESTINATION ${share}/mime/packages RENAME halvex.xml)
configure_file(${PROJECT_SOURCE_DIR}/resources/metainfo/org.example.halvex.metainfo.xml
               ${CMAKE_BINARY_DIR}/metainfo/org.example.halvex.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/metainfo/org.example.halvex.metainfo.xml DESTINATION ${share}/metainfo)
# The licence text is the system's GPL-3 (named by copyright); the package carries no copy.
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
halvex_gzip(${CMAKE_BINARY_DIR}/doc/changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
list(APPEND docs ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(halvex_docs ALL DEPENDS ${docs})
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${PROJECT_SOURCE_DIR}/README.md
              ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${share}/doc/halvex)

# PNG sizes rendered from the SVG icons at build time.
if(TARGET halvex_render_icon)
  set(pngs)
  foreach(program ${HALVEX_PROGRAMS})
    foreach(size ${HALVEX_ICON_SIZES})
      set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/${program}.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
        COMMAND halvex_render_icon ${PROJECT_SOURCE_DIR}/resources/icons/${program}.svg ${size} ${png}
        DEPENDS halvex_render_icon ${PROJECT_SOURCE_DIR}/resources/icons/${program}.svg VERBATIM)
      list(APPEND pngs ${png})
      install(FILES ${png} DESTINATION ${share}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  endforeach()
  add_custom_target(halvex_icons ALL DEPENDS ${pngs})
endif()

# Scheduled runs: a user service and timer, installed but not enabled. The service names the
# program by the prefix it is installed under (cpack installs under /usr), so it is written at
# install time.
set(unit_dir ${CMAKE_BINARY_DIR}/systemd)
install(CODE "
  file(READ \"${PROJECT_SOURCE_DIR}/resources/systemd/halvex-backup.service\" text)
  string(REPLACE \"@HALVEX_BINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\" text \"\${text}\")
  file(WRITE \"${unit_dir}/halvex-backup.service\" \"\${text}\")
")
install(FILES ${unit_dir}/halvex-backup.service ${PROJECT_SOURCE_DIR}/resources/systemd/halvex-backup.timer
        DESTINATION lib/systemd/user)

# cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME halvex)
set(CPACK_PACKAGE_VENDOR "Halvex developers")
# example.org is reserved for documentation (RFC 2606): a well-formed address that reaches no
# one by accident, until the project has a domain of its own.
set(CPACK_PACKAGE_CONTACT "Halvex developers <halvex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "job-based file backup into numbered zip archives")
# Each line within 80 columns (dpkg shows them as they are).
set(CPACK_PACKAGE_DESCRIPTION "Halvex backs up the folders of the jobs in backup.ini into one new
numbered zip archive per run. Each archive holds the new and changed files
and the whole history, and the archives can be burned to a recordable disc.
Halvex Restore rebuilds every folder as it stood at any backup date and
restores whole targets, selections or search hits.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libisoburn1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xorriso, rclone")
set(CPACK_STRIP_FILES ON)
include(CPack)
