#pragma once

#include <cstddef>
#include <cstdint>

namespace tamsel
{

// The few OpenGL entry points and constants that the particle renderer uses, looked up through the graphics
// library at run time: the program links no OpenGL library and includes no OpenGL header of its own.
namespace gl
{

#if defined(_WIN32) && !defined(_WIN64)
#define ORBISK_GL_CALL __stdcall
#else
#define ORBISK_GL_CALL
#endif

using Enum = unsigned int;
using Uint = unsigned int;
using Int = int;
using Sizei = int;
using SizeiPtr = std::ptrdiff_t;
using Char = char;

constexpr Enum triangles = 0x0004;          // GL_TRIANGLES
constexpr Enum noError = 0;                 // GL_NO_ERROR
constexpr Enum outOfMemory = 0x0505;        // GL_OUT_OF_MEMORY
constexpr Enum unsignedByte = 0x1401;       // GL_UNSIGNED_BYTE
constexpr Enum floatType = 0x1406;          // GL_FLOAT
constexpr Enum version = 0x1F02;            // GL_VERSION
constexpr Enum arrayBuffer = 0x8892;        // GL_ARRAY_BUFFER
constexpr Enum arrayBufferBinding = 0x8894; // GL_ARRAY_BUFFER_BINDING
constexpr Enum streamDraw = 0x88E0;         // GL_STREAM_DRAW
constexpr Enum fragmentShader = 0x8B30;     // GL_FRAGMENT_SHADER
constexpr Enum vertexShader = 0x8B31;       // GL_VERTEX_SHADER
constexpr Enum compileStatus = 0x8B81;      // GL_COMPILE_STATUS
constexpr Enum linkStatus = 0x8B82;         // GL_LINK_STATUS
constexpr Enum infoLogLength = 0x8B84;      // GL_INFO_LOG_LENGTH
constexpr Enum currentProgram = 0x8B8D;     // GL_CURRENT_PROGRAM
constexpr unsigned char isTrue = 1;         // GL_TRUE
constexpr unsigned char isFalse = 0;        // GL_FALSE

/// The entry points, all found or the set is unusable. Pointers found in one context serve every context of
/// the graphics library, which all share one driver.
struct Functions
{
    const std::uint8_t*(ORBISK_GL_CALL* getString)(Enum name) = nullptr;
    Enum(ORBISK_GL_CALL* getError)() = nullptr;
    void(ORBISK_GL_CALL* getIntegerv)(Enum name, Int* values) = nullptr;
    void(ORBISK_GL_CALL* loadMatrixf)(const float* matrix) = nullptr;
    void(ORBISK_GL_CALL* drawArraysInstanced)(Enum mode, Int first, Sizei count, Sizei instances) = nullptr;

    Uint(ORBISK_GL_CALL* createShader)(Enum type) = nullptr;
    void(ORBISK_GL_CALL* shaderSource)(Uint shader, Sizei count, const Char* const* sources,
                                       const Int* lengths) = nullptr;
    void(ORBISK_GL_CALL* compileShader)(Uint shader) = nullptr;
    void(ORBISK_GL_CALL* getShaderiv)(Uint shader, Enum name, Int* value) = nullptr;
    void(ORBISK_GL_CALL* getShaderInfoLog)(Uint shader, Sizei size, Sizei* length, Char* log) = nullptr;
    void(ORBISK_GL_CALL* deleteShader)(Uint shader) = nullptr;
    Uint(ORBISK_GL_CALL* createProgram)() = nullptr;
    void(ORBISK_GL_CALL* attachShader)(Uint program, Uint shader) = nullptr;
    void(ORBISK_GL_CALL* bindAttribLocation)(Uint program, Uint index, const Char* name) = nullptr;
    void(ORBISK_GL_CALL* linkProgram)(Uint program) = nullptr;
    void(ORBISK_GL_CALL* getProgramiv)(Uint program, Enum name, Int* value) = nullptr;
    void(ORBISK_GL_CALL* getProgramInfoLog)(Uint program, Sizei size, Sizei* length, Char* log) = nullptr;
    void(ORBISK_GL_CALL* deleteProgram)(Uint program) = nullptr;
    void(ORBISK_GL_CALL* useProgram)(Uint program) = nullptr;
    Int(ORBISK_GL_CALL* getUniformLocation)(Uint program, const Char* name) = nullptr;
    void(ORBISK_GL_CALL* uniform2fv)(Int location, Sizei count, const float* values) = nullptr;

    void(ORBISK_GL_CALL* genBuffers)(Sizei count, Uint* buffers) = nullptr;
    void(ORBISK_GL_CALL* deleteBuffers)(Sizei count, const Uint* buffers) = nullptr;
    void(ORBISK_GL_CALL* bindBuffer)(Enum target, Uint buffer) = nullptr;
    void(ORBISK_GL_CALL* bufferData)(Enum target, SizeiPtr size, const void* data, Enum usage) = nullptr;
    void(ORBISK_GL_CALL* enableVertexAttribArray)(Uint index) = nullptr;
    void(ORBISK_GL_CALL* disableVertexAttribArray)(Uint index) = nullptr;
    void(ORBISK_GL_CALL* vertexAttribPointer)(Uint index, Int size, Enum type, unsigned char normalized, Sizei stride,
                                              const void* offset) = nullptr;
    void(ORBISK_GL_CALL* vertexAttribDivisor)(Uint index, Uint divisor) = nullptr;

    /// Looks every entry point up in the active context; false when any is missing.
    bool load();
};

/// The context's OpenGL version as major x 10 + minor (45 for 4.5), 0 when unknown.
int contextVersion(const Functions& functions);

} // namespace gl

} // namespace tamsel
