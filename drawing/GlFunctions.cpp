#include "drawing/GlFunctions.hpp"

#include <SFML/Window/Context.hpp>

namespace tamsel
{
namespace gl
{

namespace
{

template <typename Function> bool find(Function& function, const char* name)
{
    function = reinterpret_cast<Function>(sf::Context::getFunction(name));
    return function != nullptr;
}

} // namespace

bool Functions::load()
{
    // On Windows the graphics library asks wglGetProcAddress and, for the functions of OpenGL 1.1, opengl32's
    // own exports; elsewhere the platform's lookup finds them all.
    return find(getString, "glGetString") && find(getError, "glGetError") && find(getIntegerv, "glGetIntegerv") &&
           find(loadMatrixf, "glLoadMatrixf") && find(drawArraysInstanced, "glDrawArraysInstanced") &&
           find(createShader, "glCreateShader") && find(shaderSource, "glShaderSource") &&
           find(compileShader, "glCompileShader") && find(getShaderiv, "glGetShaderiv") &&
           find(getShaderInfoLog, "glGetShaderInfoLog") && find(deleteShader, "glDeleteShader") &&
           find(createProgram, "glCreateProgram") && find(attachShader, "glAttachShader") &&
           find(bindAttribLocation, "glBindAttribLocation") && find(linkProgram, "glLinkProgram") &&
           find(getProgramiv, "glGetProgramiv") && find(getProgramInfoLog, "glGetProgramInfoLog") &&
           find(deleteProgram, "glDeleteProgram") && find(useProgram, "glUseProgram") &&
           find(getUniformLocation, "glGetUniformLocation") && find(uniform2fv, "glUniform2fv") &&
           find(genBuffers, "glGenBuffers") && find(deleteBuffers, "glDeleteBuffers") &&
           find(bindBuffer, "glBindBuffer") && find(bufferData, "glBufferData") &&
           find(enableVertexAttribArray, "glEnableVertexAttribArray") &&
           find(disableVertexAttribArray, "glDisableVertexAttribArray") &&
           find(vertexAttribPointer, "glVertexAttribPointer") && find(vertexAttribDivisor, "glVertexAttribDivisor");
}

int contextVersion(const Functions& functions)
{
    // The version string begins with "major.minor", whatever the vendor appends.
    const std::uint8_t* text = functions.getString(version);
    if (!text || text[0] < '0' || text[0] > '9' || text[1] != '.' || text[2] < '0' || text[2] > '9')
        return 0;
    return (text[0] - '0') * 10 + (text[2] - '0');
}

} // namespace gl
} // namespace tamsel
