# marklode_layer_root(NAME FOLDER...) makes ${MARKLODE_LAYERS}/NAME, a folder
# that holds links to the named source folders and nothing else: the include
# root of one layer, so that "#include "engine/x.h"" is found only by the
# layers that may use the engine.
set(MARKLODE_LAYERS ${CMAKE_BINARY_DIR}/layers)
function(marklode_layer_root name)
  set(root ${MARKLODE_LAYERS}/${name})
  file(MAKE_DIRECTORY ${root})
  foreach(folder IN LISTS ARGN)
    if(NOT EXISTS ${root}/${folder})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
  endforeach()
endfunction()
