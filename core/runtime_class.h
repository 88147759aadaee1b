// The class record that the object model's runtime-class query returns.
#pragma once

#include <cstddef>

struct CRuntimeClass {
    const wchar_t* ClassName;
    size_t ObjectSize;
    // Makes a default instance; the caller owns it and knows its type by the name.
    void* (*CreateObject)();
};
