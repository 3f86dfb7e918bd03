#version 330 core
uniform vec4 color;

in float v_clipDist;

out vec4 fragColor;

void main()
{
    if (v_clipDist < 0.0)
        discard;
    fragColor = color;
}
