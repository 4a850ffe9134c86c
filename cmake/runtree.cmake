# The run tree: the installation directory of a build, ${CMAKE_BINARY_DIR}/data. It holds the checked-in
# data of the source folder's data/ (copied, and copied again whenever a file there changes) and the data
# the build makes (the compiled text catalogue). The program, the tests and velura-convert of this build
# find their data there; the source tree is never written.
set(velura_source_data ${CMAKE_SOURCE_DIR}/data)
file(GLOB_RECURSE velura_data_files CONFIGURE_DEPENDS RELATIVE ${velura_source_data}
  ${velura_source_data}/*)
# What the build makes is never taken from data/ (an older build may have left a copy there).
if(velura_generated_data)
  list(REMOVE_ITEM velura_data_files ${velura_generated_data})
endif()

set(velura_run_files)
foreach(name ${velura_data_files})
  add_custom_command(OUTPUT ${VELURA_RUN_TREE}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${velura_source_data}/${name} ${VELURA_RUN_TREE}/${name}
    DEPENDS ${velura_source_data}/${name}
    VERBATIM)
  list(APPEND velura_run_files ${VELURA_RUN_TREE}/${name})
endforeach()

# A file taken out of data/ leaves the run tree too (the glob above makes every build notice it).
file(GLOB_RECURSE velura_stale_files LIST_DIRECTORIES false RELATIVE ${VELURA_RUN_TREE}
  ${VELURA_RUN_TREE}/*)
list(REMOVE_ITEM velura_stale_files ${velura_data_files} ${velura_generated_data})
foreach(name ${velura_stale_files})
  file(REMOVE ${VELURA_RUN_TREE}/${name})
endforeach()

add_custom_target(velura_run_tree DEPENDS ${velura_run_files})
add_dependencies(velura_core velura_run_tree)
