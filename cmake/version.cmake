# The one version of the programs and packages: the file version of the header that the Windows
# program's version resource is built from ("2, 0, 0, 0" becomes KQ_VERSION 2.0.0.0).
set(KQ_VERSION_HEADER ${CMAKE_CURRENT_LIST_DIR}/../version/version.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KQ_VERSION_HEADER})
file(STRINGS ${KQ_VERSION_HEADER} kq_binary REGEX "^#define KQ_FILE_VERSION_BINARY ")
file(STRINGS ${KQ_VERSION_HEADER} kq_text REGEX "^#define KQ_FILE_VERSION_TEXT ")
set(kq_four "([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)")
string(REGEX REPLACE "^#define KQ_FILE_VERSION_BINARY +${kq_four} *$" "\\1.\\2.\\3.\\4"
    kq_from_binary "${kq_binary}")
string(REGEX REPLACE "^#define KQ_FILE_VERSION_TEXT +\"${kq_four}\" *$" "\\1.\\2.\\3.\\4"
    KQ_VERSION "${kq_text}")
# Windows shows the numeric version in a file's properties and the text in the program: a
# release whose two disagree would name two versions.
if(NOT KQ_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$" OR
   NOT kq_from_binary STREQUAL KQ_VERSION)
    message(FATAL_ERROR "version/version.h: KQ_FILE_VERSION_BINARY (${kq_binary}) and "
        "KQ_FILE_VERSION_TEXT (${kq_text}) must name the same four numbers")
endif()
