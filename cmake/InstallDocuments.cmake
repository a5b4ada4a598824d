# The documents an installation carries: man pages and, for each Debian package, its changelog and
# copyright file. Man pages and changelogs are compressed as Debian requires (gzip -9n: best
# compression, no name or time stamp, so that two builds give the same bytes).

set(BOARDMILL_DOCUMENTS_DIR ${CMAKE_CURRENT_BINARY_DIR}/documents)
file(MAKE_DIRECTORY ${BOARDMILL_DOCUMENTS_DIR})
add_custom_target(boardmill_documents ALL)

# Compresses `source` into `<name>.gz` in the documents folder when the build runs.
function(boardmill_compress_document source name)
  set(compressed ${BOARDMILL_DOCUMENTS_DIR}/${name}.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${BOARDMILL_DOCUMENTS_DIR}/${name}
    COMMAND gzip -9nf ${BOARDMILL_DOCUMENTS_DIR}/${name}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(boardmill_document_${name} DEPENDS ${compressed})
  add_dependencies(boardmill_documents boardmill_document_${name})
endfunction()

function(boardmill_install_man_page page component)
  get_filename_component(name ${page} NAME)
  boardmill_compress_document(${page} ${name})
  install(FILES ${BOARDMILL_DOCUMENTS_DIR}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
endfunction()

# A man page that is another's: a link to the compressed page.
function(boardmill_install_man_page_link name target component)
  file(CREATE_LINK ${target}.gz ${BOARDMILL_DOCUMENTS_DIR}/${name}.gz SYMBOLIC)
  install(FILES ${BOARDMILL_DOCUMENTS_DIR}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
endfunction()

# The copyright file in Debian's machine-readable format, from LICENSE (MIT, which Debian calls
# Expat): the license text indented by one space, its empty lines written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE BOARDMILL_LICENSE_TEXT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" BOARDMILL_COPYRIGHT_LINE "${BOARDMILL_LICENSE_TEXT}")
set(BOARDMILL_COPYRIGHT_HOLDER "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n+" "" BOARDMILL_LICENSE_TEXT
                     "${BOARDMILL_LICENSE_TEXT}")
string(STRIP "${BOARDMILL_LICENSE_TEXT}" BOARDMILL_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" BOARDMILL_LICENSE_TEXT "${BOARDMILL_LICENSE_TEXT}")
string(REPLACE "\n" "\n " BOARDMILL_LICENSE_TEXT "${BOARDMILL_LICENSE_TEXT}")
file(WRITE ${BOARDMILL_DOCUMENTS_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}

Files: *
Copyright: ${BOARDMILL_COPYRIGHT_HOLDER}
License: Expat
 ${BOARDMILL_LICENSE_TEXT}
")

boardmill_compress_document(${PROJECT_SOURCE_DIR}/CHANGELOG.md changelog)

# Debian's place for a package's documents: /usr/share/doc/<package>, whatever the project's name.
function(boardmill_install_package_documents package component)
  install(FILES ${BOARDMILL_DOCUMENTS_DIR}/copyright ${BOARDMILL_DOCUMENTS_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()
