cmake_policy(VERSION 3.25)
# Installs the build tree into PREFIX and checks it as a desktop uses it:
# the launcher entry names a program and an icon that exist and declares the
# archive types, the software centres' description is tied to that entry,
# the resources sit where the program looks, and it starts.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
set(metainfo "${DATADIR}/metainfo/${APPSTREAM_ID}.metainfo.xml")
set(expected "${BINDIR}/vorlo" "${DATA_SUBDIR}/strings/en/app.json" "${DATADIR}/applications/vorlo.desktop"
             "${metainfo}")
if(EXISTS "${BUILD_DIR}/${LIBEXEC_SUBDIR}/unrar")
  list(APPEND expected "${LIBEXEC_SUBDIR}/unrar")
endif()
foreach(file IN LISTS expected)
  if(NOT result EQUAL 0 OR NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file} (cmake --install: ${result})")
  endif()
endforeach()

file(STRINGS "${PREFIX}/${DATADIR}/applications/vorlo.desktop" lines)
foreach(line IN LISTS lines)
  if(line MATCHES "^(Exec|Icon|MimeType)=(.*)$")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
  endif()
endforeach()
separate_arguments(Exec UNIX_COMMAND "${Exec}")
list(GET Exec 0 program)
file(GLOB icons "${PREFIX}/${DATADIR}/icons/hicolor/*/apps/${Icon}.*")
if(NOT EXISTS "${PREFIX}/${BINDIR}/${program}" OR NOT "%F" IN_LIST Exec OR NOT Icon OR NOT icons)
  message(FATAL_ERROR "the launcher entry names no installed program, file list or icon")
endif()
foreach(type application/vnd.rar application/x-rar application/x-rar-compressed)
  if(NOT "${type}" IN_LIST MimeType)
    message(FATAL_ERROR "the launcher entry does not declare ${type}")
  endif()
endforeach()

# Software centres find the component by the name of its file and show it
# through the launcher entry it names.
file(READ "${PREFIX}/${metainfo}" component)
if(NOT component MATCHES "<id>${APPSTREAM_ID}</id>"
   OR NOT component MATCHES "<launchable type=\"desktop-id\">vorlo.desktop</launchable>")
  message(FATAL_ERROR "the AppStream file is not named after its id or does not name the launcher entry")
endif()
if(APPSTREAMCLI)
  execute_process(COMMAND "${APPSTREAMCLI}" validate-tree --no-net "${PREFIX}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the installed AppStream data does not validate:\n${output}")
  endif()
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" -E env QT_QPA_PLATFORM=offscreen "${PREFIX}/${BINDIR}/vorlo" --version
                RESULT_VARIABLE result OUTPUT_VARIABLE output TIMEOUT 30)
if(NOT result EQUAL 0 OR NOT output MATCHES "Vorlo ${VERSION}")
  message(FATAL_ERROR "the installed program does not start: ${result} ${output}")
endif()
