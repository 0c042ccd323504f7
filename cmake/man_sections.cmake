# help2man makes a heading of the --help text that it does not know ("Exit status:") a
# subsection of OPTIONS; the exit codes belong in a section of their own.
file(READ ${PAGE} text)
string(REPLACE ".SS \"Exit status:\"" ".SH \"EXIT STATUS\"" text "${text}")
file(WRITE ${PAGE} "${text}")
