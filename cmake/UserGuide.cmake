# The user guide as an HTML page (data/guide-html.pl, with Debian's cmark-gfm), made at build time
# into the build folder's doc/ with a copy of its pictures in doc/img/, where the window
# program run from the build finds it. The install rules of each system take the page from
# there: beside the programs on Windows, into the doc folder in the Debian package.
find_program(CMARK_GFM cmark-gfm DOC "cmark-gfm, which converts the user guide to HTML")
if(NOT CMARK_GFM)
  message(FATAL_ERROR "cmark-gfm not found: install it (scripts/deps), it makes the user guide's HTML page")
endif()
find_package(Perl REQUIRED)

set(KARVEN_GUIDE_HTML ${CMAKE_BINARY_DIR}/${KARVEN_GUIDE_BUILD_DIR}/guide.html)
file(GLOB guide_pictures CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/img/*.png)
set(guide_picture_copies)
foreach(picture IN LISTS guide_pictures)
  get_filename_component(name ${picture} NAME)
  list(APPEND guide_picture_copies ${CMAKE_BINARY_DIR}/${KARVEN_GUIDE_BUILD_DIR}/img/${name})
endforeach()
add_custom_command(OUTPUT ${KARVEN_GUIDE_HTML} ${guide_picture_copies}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/${KARVEN_GUIDE_BUILD_DIR}/img
  COMMAND ${PERL_EXECUTABLE} ${CMAKE_SOURCE_DIR}/data/guide-html.pl ${CMARK_GFM}
          ${CMAKE_SOURCE_DIR}/docs/guide.md ${KARVEN_GUIDE_HTML}
  COMMAND ${CMAKE_COMMAND} -E copy ${guide_pictures} ${CMAKE_BINARY_DIR}/${KARVEN_GUIDE_BUILD_DIR}/img/
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/guide.md ${CMAKE_SOURCE_DIR}/data/guide-html.pl ${guide_pictures}
  COMMENT "Making the user guide's HTML page"
  VERBATIM)
add_custom_target(karven_guide ALL DEPENDS ${KARVEN_GUIDE_HTML} ${guide_picture_copies})
# A program built is a program whose guide opens.
add_dependencies(karven12t karven_guide)
