# One library per source folder, each linking only the folders it may use:
#   front ends (cli, ui, app) -> link -> firmware -> platform; sim's model uses none of them.
# Headers are included root-relative ("link/mcu_port.h"). Each library gets an include root
# of its own in the build tree that holds nothing but a link to its folder, exported to its
# dependants; so a library finds its own headers and those of what it links, and an include
# across a forbidden arrow (firmware/ reaching for link/) finds no file.
function(fennwick_include_root target dir)
  set(root ${CMAKE_BINARY_DIR}/include/${dir})
  get_filename_component(parent ${root}/${dir} DIRECTORY)  # a folder's subfolder (cli/run) nests
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${dir} ${root}/${dir} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
