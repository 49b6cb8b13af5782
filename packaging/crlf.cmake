# Copies a text file with CR LF line ends:
#   cmake -DINPUT=in.txt -DOUTPUT=out.txt -P crlf.cmake
# Every LF that is not already preceded by CR gets one; other bytes are
# copied unchanged.
cmake_minimum_required(VERSION 3.18)
file(READ ${INPUT} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
