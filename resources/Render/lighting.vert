#version 330 core
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec4 a_color;

uniform mat4 mvp_matrix;
uniform mat4 mv_matrix;
uniform mat4 trans_matrix;
uniform vec4 clipPlane;

out vec3 v_viewPos;
out vec4 v_color;
out float v_clipDist;

void main()
{
    vec4 p = vec4(a_position, 1.0);
    v_viewPos = (mv_matrix * p).xyz;
    v_color = a_color;
    // Measured in scene space, so the layer clip follows the plate, not the camera.
    v_clipDist = dot(clipPlane, trans_matrix * p);
    gl_Position = mvp_matrix * p;
}
