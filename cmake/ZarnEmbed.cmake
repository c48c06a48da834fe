# Turns a text file into a C++ raw string literal, for a page embedded in a
# program:  cmake -DINPUT=page.html -DOUTPUT=page.inc -P ZarnEmbed.cmake
file(READ ${INPUT} content)
string(FIND "${content}" ")zarnembed\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the literal's closing delimiter")
endif()
file(WRITE ${OUTPUT} "R\"zarnembed(${content})zarnembed\"\n")
