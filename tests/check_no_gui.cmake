# Fails when a binary built only from lintbay_core pulls in QtGui or QtWidgets.
execute_process(COMMAND ldd ${TARGET_FILE} OUTPUT_VARIABLE deps RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ldd failed on ${TARGET_FILE}")
endif()
if(deps MATCHES "libQt6(Gui|Widgets)")
  message(FATAL_ERROR "a core binary links QtGui or QtWidgets:\n${deps}")
endif()
message(STATUS "core binary is free of QtGui and QtWidgets")
