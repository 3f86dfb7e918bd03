#version 330 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;

uniform mat4 mvp_matrix;
uniform mat4 mv_matrix;
uniform mat3 normal_matrix;
uniform vec4 clipPlane;

out vec3 v_normal;
out vec3 v_viewPos;
out float v_clipDist;

void main()
{
    vec4 p = vec4(a_position, 1.0);
    v_normal = normal_matrix * a_normal;
    v_viewPos = (mv_matrix * p).xyz;
    v_clipDist = dot(clipPlane, p);
    gl_Position = mvp_matrix * p;
}
