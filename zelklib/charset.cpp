#include <iconv.h>

#include <cstdio>
#include <cstring>

#include "zelk.h"

int zelk_utf8_decode(char* output, const char* input) {
    size_t input_left = strlen(input);
    size_t output_left = input_left;
    char* in = const_cast<char*>(input);
    char* out = output;
    iconv_t descriptor = iconv_open("ISO-8859-1", "UTF-8");
    bool opened = descriptor != reinterpret_cast<iconv_t>(-1);
    if (!opened) {
        fprintf(stderr, "Error: %s\n", "zelk_utf8_decode: conversion descriptor failed!");
        // Without a descriptor nothing can be converted: report it like a
        // conversion that stopped at once.
        fprintf(stderr, "Error: %s\n", "zelk_utf8_decode: iconv error occured!");
    } else if (iconv(descriptor, &in, &input_left, &out, &output_left) == static_cast<size_t>(-1)) {
        fprintf(stderr, "Error: %s\n", "zelk_utf8_decode: iconv error occured!");
    }
    if (output_left > 0) {
        *out = '?';
        if (opened) iconv_close(descriptor);
        return -1;
    }
    if (opened && iconv_close(descriptor) != 0) fprintf(stderr, "Error: %s\n", "zelk_utf8_decode: iconv_close failed!");
    return opened ? 2 : -1;
}
