# The man pages, written at build time from each program's own --help by
# docs/man/man_from_help.py into the templates beside it (which hold the
# hand-written parts), and installed gzipped. A program built for another
# system cannot run here, so such a build has no man pages.
if(CMAKE_CROSSCOMPILING OR NOT UNIX)
  return()
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(RLVEXA_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(rlvexa_man_pages)
foreach(program rlvexa-configurator rlvexa-tracker-sim rlvexa-services)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(page ${RLVEXA_MAN_DIR}/${program}.1)
  add_custom_command(
    OUTPUT ${page} ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${RLVEXA_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${Python3_EXECUTABLE}
            ${PROJECT_SOURCE_DIR}/docs/man/man_from_help.py ${PROJECT_SOURCE_DIR}/docs/man/${program}.1.in ${page}
            $<TARGET_FILE:${program}>
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/docs/man/man_from_help.py ${PROJECT_SOURCE_DIR}/docs/man/${program}.1.in
    COMMENT "Man page of ${program} from its --help"
    VERBATIM)
  list(APPEND rlvexa_man_pages ${page}.gz)
endforeach()
add_custom_target(rlvexa-man-pages ALL DEPENDS ${rlvexa_man_pages})
install(FILES ${rlvexa_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
