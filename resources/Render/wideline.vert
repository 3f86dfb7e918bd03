#version 330 core
layout(location = 0) in vec3 a_position;

uniform mat4 mvp_matrix;
uniform vec4 clipPlane;

out float g_clipDist;

void main()
{
    g_clipDist = dot(clipPlane, vec4(a_position, 1.0));
    gl_Position = mvp_matrix * vec4(a_position, 1.0);
}
