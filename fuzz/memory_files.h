// Files of a fuzz run: key files served from memory through CTAMREL::key_file_source, and
// the files on disk that the parameter check opens, in one scratch folder per process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The text a key file of this path reads until the next call; other paths can't be opened.
void Memory_File_Set(const std::string& path, const std::string& text);
// For CTAMREL::key_file_source: a stream over the text, which seeks like a file on disk
// (past the end too) and reads what the text held when it was opened.
FILE* Memory_File_Open(const char* path);

// The scratch folder becomes the current folder and holds: "data.bin" (a regular file of
// the size set below), "alias.bin" (a symbolic link to it), "image.bin" (another regular
// file), "folder" (a directory) and "fifo"; "missing.bin" is not there.
void Enter_Scratch_Folder();
// Sets the size of data.bin without writing its bytes (they read as 0).
void Set_Data_File_Size(uint32_t size);
