# The Windows packages, from the programs of this build:
#   installer  marklode-VERSION-win64-setup.exe, built by makensis from
#              packaging/windows/marklode.nsi (a per-user install)
#   portable   marklode-VERSION-win64-portable.zip, to unpack anywhere
# Both take their files from one folder, package/, which holds the programs
# stripped of their debug information (and of the link to the .debug file
# beside them in the build), the guide, the profile templates and a
# README.txt.
set(marklode_stage ${CMAKE_BINARY_DIR}/package)
set(marklode_stage_files marklode.exe marklode-cli.exe Notes.rtf GPXTOCSV.zvp CSVTOGPX.zvp
  README.txt)
set(marklode_sources_packed
  ${MARKLODE_NOTES_RTF}
  ${PROJECT_SOURCE_DIR}/resources/GPXTOCSV.zvp
  ${PROJECT_SOURCE_DIR}/resources/CSVTOGPX.zvp)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in
  ${CMAKE_BINARY_DIR}/generated/README.txt @ONLY NEWLINE_STYLE CRLF)
set(marklode_stamp ${marklode_stage}/.staged)
add_custom_command(OUTPUT ${marklode_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${marklode_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${marklode_stage}
  COMMAND ${CMAKE_STRIP} --remove-section=.gnu_debuglink -o ${marklode_stage}/marklode.exe
    $<TARGET_FILE:marklode_gui>
  COMMAND ${CMAKE_STRIP} --remove-section=.gnu_debuglink -o ${marklode_stage}/marklode-cli.exe
    $<TARGET_FILE:marklode>
  COMMAND ${CMAKE_COMMAND} -E copy ${marklode_sources_packed}
    ${CMAKE_BINARY_DIR}/generated/README.txt ${marklode_stage}
  COMMAND ${CMAKE_COMMAND} -E touch ${marklode_stamp}
  DEPENDS marklode marklode_gui ${marklode_sources_packed} ${CMAKE_BINARY_DIR}/generated/README.txt
  COMMENT "Gathering the files of the Windows packages" VERBATIM)
# The folder is filled by this one target. The packages wait for it and
# depend on its inputs rather than on its stamp: a stamp named in their rules
# would copy the rule into each, and a parallel build would then fill the
# folder twice at once.
add_custom_target(windows_package_files DEPENDS ${marklode_stamp})
add_dependencies(windows_package_files marklode_guide_files)  # Notes.rtf
set(marklode_stage_inputs windows_package_files marklode marklode_gui ${marklode_sources_packed}
  ${CMAKE_BINARY_DIR}/generated/README.txt)

find_program(MARKLODE_MAKENSIS makensis)
set(marklode_setup ${CMAKE_BINARY_DIR}/marklode-${PROJECT_VERSION}-win64-setup.exe)
if(MARKLODE_MAKENSIS)
  set(nsi ${PROJECT_SOURCE_DIR}/packaging/windows/marklode.nsi)
  add_custom_command(OUTPUT ${marklode_setup}
    COMMAND ${MARKLODE_MAKENSIS} -V2 -NOCD
      -DVERSION=${PROJECT_VERSION} -DFILES_DIR=${marklode_stage}
      -DICON=${PROJECT_SOURCE_DIR}/resources/icons/marklode.ico -DOUTFILE=${marklode_setup} ${nsi}
    DEPENDS ${nsi} ${marklode_stage_inputs} ${PROJECT_SOURCE_DIR}/resources/icons/marklode.ico
    COMMENT "Writing marklode-${PROJECT_VERSION}-win64-setup.exe" VERBATIM)
  add_custom_target(installer DEPENDS ${marklode_setup})
else()
  add_custom_target(installer
    COMMAND ${CMAKE_COMMAND} -E echo "makensis not found (scripts/setup.sh installs nsis)"
    COMMAND ${CMAKE_COMMAND} -E false VERBATIM)
endif()

# The zip unpacks into one folder, Marklode-VERSION, holding the files the
# installer installs, the README.txt and the file "portable", which makes the
# programs keep their settings in Marklode.ini beside them rather than in the
# registry. cmake -E tar writes zip files, so no zip program is needed.
set(marklode_portable_name marklode-${PROJECT_VERSION}-win64-portable)
set(marklode_portable_zip ${CMAKE_BINARY_DIR}/${marklode_portable_name}.zip)
set(marklode_portable_top Marklode-${PROJECT_VERSION})
set(marklode_portable_stage ${CMAKE_BINARY_DIR}/portable-zip)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/portable.in
  ${CMAKE_BINARY_DIR}/generated/portable @ONLY NEWLINE_STYLE CRLF)
add_custom_command(OUTPUT ${marklode_portable_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${marklode_portable_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${marklode_portable_stage}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${marklode_portable_stage}/${marklode_portable_top}
  COMMAND ${CMAKE_COMMAND} -E chdir ${marklode_stage}
    ${CMAKE_COMMAND} -E copy ${marklode_stage_files} ${CMAKE_BINARY_DIR}/generated/portable
    ${marklode_portable_stage}/${marklode_portable_top}
  COMMAND ${CMAKE_COMMAND} -E chdir ${marklode_portable_stage}
    ${CMAKE_COMMAND} -E tar cf ${marklode_portable_zip} --format=zip ${marklode_portable_top}
  DEPENDS ${marklode_stage_inputs} ${CMAKE_BINARY_DIR}/generated/portable
  COMMENT "Writing ${marklode_portable_name}.zip" VERBATIM)
add_custom_target(portable DEPENDS ${marklode_portable_zip})
