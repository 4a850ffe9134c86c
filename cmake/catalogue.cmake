# The text catalogue Data/Lingua/Velura.etf is compiled from its readable source tools/Velura.catalogue
# by etfc, a small standalone tool, into the build's run tree. etfc writes it through a temporary file and
# a rename, so that a program running from the build never reads half a file.
add_executable(etfc ${CMAKE_SOURCE_DIR}/tools/etfc.cpp)
target_include_directories(etfc PRIVATE ${CMAKE_SOURCE_DIR})

set(velura_catalogue_source ${CMAKE_SOURCE_DIR}/tools/Velura.catalogue)
list(APPEND velura_generated_data Data/Lingua/Velura.etf)
set(velura_catalogue_file ${VELURA_RUN_TREE}/Data/Lingua/Velura.etf)
add_custom_command(OUTPUT ${velura_catalogue_file}
  COMMAND etfc ${velura_catalogue_source} ${velura_catalogue_file}
  DEPENDS etfc ${velura_catalogue_source}
  COMMENT "Compiling the text catalogue Data/Lingua/Velura.etf"
  VERBATIM)
add_custom_target(velura_catalogue DEPENDS ${velura_catalogue_file})
# Everything that links the core library (the program, the tests) finds the catalogue in place.
add_dependencies(velura_core velura_catalogue)
