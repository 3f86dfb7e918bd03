#version 330 core
// Each line becomes a quad lineWidth pixels wide: core profiles draw wider lines one pixel wide.
layout(lines) in;
layout(triangle_strip, max_vertices = 4) out;

uniform vec2 viewportSize;
uniform float lineWidth;

in float g_clipDist[];
out float v_clipDist;

void main()
{
    vec4 a = gl_in[0].gl_Position;
    vec4 b = gl_in[1].gl_Position;
    if (a.w <= 0.0 || b.w <= 0.0)
        return;
    vec2 halfView = viewportSize * 0.5;
    vec2 d = b.xy / b.w * halfView - a.xy / a.w * halfView;
    d = dot(d, d) > 1e-8 ? normalize(d) : vec2(1.0, 0.0);
    // Half the width across the line and along it (square caps close the joints of the rings).
    vec2 across = vec2(-d.y, d.x) * (0.5 * lineWidth) / halfView;
    vec2 along = d * (0.5 * lineWidth) / halfView;
    vec2 aOff[2] = vec2[2](-along + across, -along - across);
    vec2 bOff[2] = vec2[2](along + across, along - across);
    for (int i = 0; i < 2; ++i) {
        gl_Position = vec4(a.xy + aOff[i] * a.w, a.zw);
        v_clipDist = g_clipDist[0];
        EmitVertex();
    }
    for (int i = 0; i < 2; ++i) {
        gl_Position = vec4(b.xy + bOff[i] * b.w, b.zw);
        v_clipDist = g_clipDist[1];
        EmitVertex();
    }
    EndPrimitive();
}
