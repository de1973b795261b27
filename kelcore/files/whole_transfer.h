// Internal to the library: reading or writing all of a count through an
// I/O facet, or failing with the FILESYS library's message, shared by the
// logical file's buffer (file_buffer.cpp) and its data path
// (logical_file_io.cpp).
#ifndef KELCORE_FILES_WHOLE_TRANSFER_H
#define KELCORE_FILES_WHOLE_TRANSFER_H

class tPHYFILEIOOBJ;

namespace kelcore_internal {

// FILESYS set-0 message: a buffered read without a count came up short.
const unsigned int cMSG_SHORT_READ = 3;
// FILESYS set-0 message: a write without a count came up short.
const unsigned int cMSG_SHORT_WRITE = 4;
const unsigned int cSTATUS_EOF = 4;

// Writes all `count` bytes or fails. An I/O facet may report a short
// transfer only through its count (the C-stream back end never fails a
// write): without a count asked for, that is a failure, with the C
// library's reason (errno as the write left it) as FILESYS library
// error 4.
unsigned int WriteAll(tPHYFILEIOOBJ &io, const void *buf, unsigned long count);

// Reads all `count` bytes or fails with FILESYS library error 3 and
// status 4 (end of file), whichever back end is underneath.
unsigned int ReadAll(tPHYFILEIOOBJ &io, void *buf, unsigned long count);

}  // namespace kelcore_internal

#endif  // KELCORE_FILES_WHOLE_TRANSFER_H
