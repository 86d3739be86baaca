# The include check of the build on small trees of its own: each wrong
# include must fail it with a line naming the file, and a tree that keeps
# to the rooms must pass.
#
#   cmake -DCHECKER=<check_rooms.cmake> -DWORK_DIR=<scratch> -P this file
cmake_minimum_required(VERSION 3.16)

# check(<name> <expect: pass|fail> <expected text> <file> <content> ...)
function(check name expect expected)
  set(tree ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${tree})
  # A room of every kind, each including what it may.
  file(WRITE ${tree}/bytes/b.h "#include <cstddef>\n")
  file(WRITE ${tree}/platform/p.cc
       "#include \"platform/p.h\"\n#include \"bytes/b.h\"\n#include \"contentfile.h\"\n")
  file(WRITE ${tree}/codec/c.cc "#include \"codec/c.h\"\n#include \"bytes/b.h\"\n")
  file(WRITE ${tree}/content/t.cc "#include \"platform/p.h\"\n")
  file(WRITE ${tree}/mail/m.cc
       "#include \"content/t.h\"\n#include \"codec/c.h\"\n#include <contentfile.h>\n")
  file(WRITE ${tree}/tools/cfdump/main.cc
       "#include <contentfile.h>\n#include \"tools/cfdump/x.h\"\n")
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs file content)
    file(WRITE ${tree}/${file} "${content}")
  endwhile()
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${tree} -P ${CHECKER}
                  RESULT_VARIABLE result ERROR_VARIABLE output
                  OUTPUT_QUIET)
  if(expect STREQUAL "pass" AND NOT result EQUAL 0)
    message(FATAL_ERROR "${name}: refused a tree that keeps to the rooms:\n"
                        "${output}")
  endif()
  if(expect STREQUAL "fail")
    if(result EQUAL 0)
      message(FATAL_ERROR "${name}: a wrong include passed")
    endif()
    string(FIND "${output}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${name}: no line \"${expected}\" in:\n${output}")
    endif()
  endif()
endfunction()

check(keeps_to_the_rooms pass "")
check(codec_uses_platform fail "codec/c2.cc: #include \"platform/text.h\""
      codec/c2.cc "#include \"platform/text.h\"\n")
check(platform_uses_content fail "platform/f.h:"
      platform/f.h "#  include \"content/log_head.h\"\n")
check(bytes_uses_the_public_header fail "bytes/s.cc:"
      bytes/s.cc "#include <contentfile.h>\n")
check(content_uses_mail fail "content/x.cc:"
      content/x.cc "#include \"mail/mail_parser.h\"\n")
check(climbing_path fail "(a climbing path)"
      mail/y.cc "#include \"../platform/file.h\"\n")
check(tool_uses_the_library_inside fail "tools/cfdump/y.cc:"
      tools/cfdump/y.cc "#include \"mail/mail_parser.h\"\n")
file(REMOVE_RECURSE ${WORK_DIR})
