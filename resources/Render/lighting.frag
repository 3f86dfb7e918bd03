#version 330 core
struct Light {
    vec4 Ambient;
    vec4 Diffuse;
    vec4 Specular;
    vec3 Direction;
};
struct Material {
    vec4 Ambient;
    vec4 Diffuse;
    vec4 Specular; // w: specular power
};

uniform Light light;
uniform Material u_mat;
uniform vec3 eyePos;
uniform bool transparency;

in vec3 v_viewPos;
in vec4 v_color;
in float v_clipDist;

out vec4 fragColor;

void main()
{
    if (v_clipDist < 0.0)
        discard;
    if (!gl_FrontFacing) {
        fragColor = vec4(0.0, 0.0, 0.0, v_color.a);
        return;
    }
    // Flat face normal from the screen-space slope of the view-space position.
    vec3 n = normalize(cross(dFdx(v_viewPos), dFdy(v_viewPos)));
    vec4 ambient = u_mat.Ambient;
    vec4 diffuse = u_mat.Diffuse;
    if (v_color.r > 0.0) {
        ambient = v_color;
        diffuse = v_color;
    }
    vec3 l = normalize(-light.Direction);
    float nl = max(dot(n, l), 0.0);
    vec3 v = normalize(eyePos - v_viewPos);
    vec3 h = normalize(l + v);
    float spec = nl > 0.0 ? pow(max(dot(n, h), 0.0), max(u_mat.Specular.w, 1.0)) : 0.0;
    vec3 c = light.Ambient.rgb * ambient.rgb + light.Diffuse.rgb * diffuse.rgb * nl
           + light.Specular.rgb * u_mat.Specular.rgb * spec;
    fragColor = vec4(min(c, vec3(1.0)), transparency ? v_color.a : 1.0);
}
