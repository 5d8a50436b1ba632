# The include check against a small tree with known faults: it fails, names each fault, and
# passes the sources that hold to their layers.
execute_process(
  COMMAND ${CMAKE_COMMAND} -DGRAPH=${HERE}/graph.txt -DSOURCES=${HERE}/src -P ${CHECK}
  RESULT_VARIABLE result ERROR_VARIABLE output OUTPUT_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed a tree with faults:\n${output}")
endif()
foreach(expected IN ITEMS
    "src/model/wrong.cpp: \"protocol/frame.h\", but model does not use protocol"
    "src/model/wrong.cpp: \"../protocol/frame.h\" reaches out of its folder"
    "src/model/wrong.cpp: <QString>: Qt belongs to the windows only")
  string(FIND "${output}" "${expected}" at)
  if(at LESS 0)
    message(FATAL_ERROR "not said: ${expected}\n${output}")
  endif()
endforeach()
if(output MATCHES "right\\.cpp|model/config_image")
  message(FATAL_ERROR "a fault where there is none:\n${output}")
endif()
