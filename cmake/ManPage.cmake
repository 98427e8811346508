# cmake -DPROGRAM=path -DNAME=zorvctl -DSUMMARY="..." -DOUT=file.1 [-DHELP=--help] -P ManPage.cmake
# A man page made from the program's own help (--help-all unless HELP says), so the page says what
# the program takes. The help text goes in as it is (no-fill), with roff's
# special characters escaped.
if(NOT HELP)
  set(HELP --help-all)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${PROGRAM} ${HELP}
                OUTPUT_VARIABLE help ERROR_QUIET RESULT_VARIABLE rc TIMEOUT 30)
if(NOT help)
  message(FATAL_ERROR "${PROGRAM} --help-all printed nothing (exit ${rc})")
endif()
string(REPLACE "\\" "\\e" help "${help}")
# A line that starts with a dot or a quote would be read as a request.
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
# The path the help was made with is not the installed program's.
string(REGEX REPLACE "Usage: [^ \n]*/${NAME}" "Usage: ${NAME}" help "${help}")
string(TIMESTAMP today "%Y-%m-%d" UTC)
file(WRITE ${OUT} ".TH ${NAME} 1 \"${today}\" \"Zorv\" \"User Commands\"
.SH NAME
${NAME} \\- ${SUMMARY}
.SH DESCRIPTION
.nf
${help}
.fi
.SH SEE ALSO
zorv(1), zorvctl(1)
")
