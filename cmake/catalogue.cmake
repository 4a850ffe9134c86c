# The text catalogue Data/Lingua/Velura.etf is compiled from its readable source tools/Velura.catalogue
# by etfc, a small standalone tool. The file goes into the installation tree of the source folder, which
# every build directory shares; etfc writes it through a temporary file and a rename, so builds running
# side by side never read half a file.
add_executable(etfc ${CMAKE_SOURCE_DIR}/tools/etfc.cpp)
target_include_directories(etfc PRIVATE ${CMAKE_SOURCE_DIR})

set(velura_catalogue_source ${CMAKE_SOURCE_DIR}/tools/Velura.catalogue)
set(velura_catalogue_file ${CMAKE_SOURCE_DIR}/data/Data/Lingua/Velura.etf)
add_custom_command(OUTPUT ${velura_catalogue_file}
  COMMAND etfc ${velura_catalogue_source} ${velura_catalogue_file}
  DEPENDS etfc ${velura_catalogue_source}
  COMMENT "Compiling the text catalogue Data/Lingua/Velura.etf"
  VERBATIM)
add_custom_target(velura_catalogue DEPENDS ${velura_catalogue_file})
# Everything that links the core library (the program, the tests) finds the catalogue in place.
add_dependencies(velura_core velura_catalogue)
