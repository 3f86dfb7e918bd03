#version 330 core
struct Light {
    vec4 Ambient;
    vec4 Diffuse;
    vec4 Specular;
    vec3 Direction;
};

uniform Light light;
uniform vec3 eyePos;

in vec3 v_normal;
in vec3 v_viewPos;
in float v_clipDist;

out vec4 fragColor;

const vec4 material = vec4(0.282, 0.521, 0.682, 1.0);

void main()
{
    if (v_clipDist < 0.0)
        discard;
    if (!gl_FrontFacing) {
        fragColor = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    vec3 n = normalize(v_normal);
    float nl = max(dot(n, normalize(-light.Direction)), 0.0);
    vec3 c = light.Ambient.rgb * material.rgb + light.Diffuse.rgb * material.rgb * nl;
    fragColor = vec4(min(c, vec3(1.0)), material.a);
}
