# Starts or stops the plain HTTP server that serves the built web example's data folder.
#   -DMODE=start -DDIR=<folder to serve> -DSTATE=<folder for the pid, port and log files>
#   -DMODE=stop  -DSTATE=<the same folder>
# The server listens on a free port of 127.0.0.1, written to STATE/port.txt for the test.
if(MODE STREQUAL "start")
  file(MAKE_DIRECTORY ${STATE})
  execute_process(
    COMMAND python3 -c "import socket; s = socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])"
    OUTPUT_VARIABLE port OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT port)
    message(FATAL_ERROR "web_server.cmake: no free port (is python3 installed?)")
  endif()
  execute_process(COMMAND sh -c
    "python3 -m http.server ${port} --bind 127.0.0.1 --directory '${DIR}' >'${STATE}/server.log' 2>&1 & echo $! >'${STATE}/server.pid'"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "web_server.cmake: the server did not start")
  endif()
  # Ready once it answers.
  foreach(try RANGE 50)
    execute_process(COMMAND python3 -c
      "import urllib.request; urllib.request.urlopen('http://127.0.0.1:${port}/', timeout=1)"
      RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
      file(WRITE ${STATE}/port.txt ${port})
      message(STATUS "serving ${DIR} on 127.0.0.1:${port}")
      return()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.2)
  endforeach()
  message(FATAL_ERROR "web_server.cmake: the server on port ${port} does not answer")
elseif(MODE STREQUAL "stop")
  if(EXISTS ${STATE}/server.pid)
    file(READ ${STATE}/server.pid pid)
    string(STRIP "${pid}" pid)
    if(pid MATCHES "^[0-9]+$")
      execute_process(COMMAND kill ${pid})
    endif()
    file(REMOVE ${STATE}/server.pid ${STATE}/port.txt)
  endif()
else()
  message(FATAL_ERROR "web_server.cmake: MODE must be start or stop")
endif()
