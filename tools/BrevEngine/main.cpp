// BrevEngine: slices a binary STL into G-code with the settings of an ini file.
//   BrevEngine [-p] -c <ini> [-s key=value]... -o <output> <model.stl>
#include "EngineSettings.h"
#include "GcodeWriter.h"
#include "LayerPlanner.h"
#include "LayerSlicer.h"
#include "Parallel.h"
#include "Plate.h"
#include "Progress.h"
#include "StlMesh.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

namespace {

enum ExitCode { Ok = 0, BadArguments = 1, BadIni = 2, BadStl = 3, EmptyMesh = 4, WriteFailed = 5,
                OutOfMemory = 6, OffPlate = 7 };

// One line on stderr. The host reads stderr with stdout and splits progress lines on ':',
// so the reason carries no colon that could make it look like one.
int fail(int code, std::string reason)
{
    for (char& ch : reason)
        if (ch == ':' || ch == '\n' || ch == '\r')
            ch = ' ';
    std::fprintf(stderr, "BrevEngine failed - %s\n", reason.c_str());
    std::fflush(stderr);
    return code;
}

template <class Fn>
void runStage(brev::Progress& progress, const char* name, size_t layers, Fn&& fn)
{
    progress.beginStage(name);
    brev::parallelFor(layers, [&](size_t i) {
        fn(i);
        progress.step();
    });
    progress.endStage();
}

int run(int argc, char** argv)
{
    bool showProgress = false;
    std::string iniPath;
    std::string outputPath;
    std::string stlPath;
    std::vector<std::string> overrides;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-p") {
            showProgress = true;
        } else if ((arg == "-c" || arg == "-s" || arg == "-o") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "-c")
                iniPath = value;
            else if (arg == "-o")
                outputPath = value;
            else
                overrides.push_back(value);
        } else if (!arg.empty() && arg[0] != '-' && stlPath.empty()) {
            stlPath = arg;
        } else {
            return fail(BadArguments, "unexpected argument " + arg);
        }
    }
    if (iniPath.empty() || outputPath.empty() || stlPath.empty())
        return fail(BadArguments, "usage BrevEngine [-p] -c ini [-s key=value]... -o output model.stl");

    brev::EngineSettings settings;
    std::string error;
    if (!settings.loadIniFile(iniPath, error))
        return fail(BadIni, error);
    for (const std::string& o : overrides)
        if (!settings.applyOverride(o, error))
            return fail(BadArguments, error);
    if (!settings.resolve(error))
        return fail(BadIni, error);

    brev::StlMesh mesh;
    if (!mesh.load(stlPath, settings.posxUm, settings.posyUm, error))
        return fail(BadStl, error);
    if (mesh.triangles.empty())
        return fail(EmptyMesh, "the mesh is empty");
    const brev::Plate plate(settings);
    if (!plate.holds(mesh)) {
        char mm[32];
        std::snprintf(mm, sizeof mm, "%.2f", plate.reachPastUm(mesh) / 1000.0);
        return fail(OffPlate, std::string("the model reaches ") + mm + " mm past the edge of the plate");
    }

    const brev::LayerHeights heights = brev::LayerHeights::forMesh(
        mesh.maxZUm, settings.initialLayerThicknessUm, settings.layerThicknessUm);
    const size_t layers = heights.planeZUm.size();
    if (layers == 0)
        return fail(EmptyMesh, "the mesh lies below the plate");

    brev::Progress progress(showProgress, static_cast<int>(layers));
    progress.beginStage("DiameterCompensation");
    std::vector<ClipperLib::Paths> outlines = brev::sliceMesh(mesh, heights, &progress);
    progress.endStage();
    mesh.triangles = {};
    bool anyArea = false;
    for (const ClipperLib::Paths& o : outlines)
        anyArea = anyArea || !o.empty();
    if (!anyArea)
        return fail(EmptyMesh, "the mesh encloses no volume");

    brev::LayerPlanner planner(settings, heights, outlines);
    runStage(progress, "inset", layers, [&](size_t i) { planner.makeInsets(i); });
    runStage(progress, "skin", layers, [&](size_t i) { planner.makeSkin(i); });
    runStage(progress, "overhang", layers, [&](size_t i) { planner.makeSupport(i); });
    planner.spreadSupport();
    runStage(progress, "deleteSmallAreas", layers, [&](size_t i) {
        planner.shapeSupport(i);
        planner.dropSmallAreas(i);
    });
    planner.planRaft();
    const size_t raftLayers = planner.raftLayerCount();
    std::vector<brev::LayerCode> code(raftLayers + layers);
    runStage(progress, "unionSupportAreas", layers,
             [&](size_t i) { code[raftLayers + i] = planner.writeLayer(i); });
    for (size_t k = 0; k < raftLayers; ++k)
        code[k] = planner.writeRaftLayer(k);

    progress.beginStage("export");
    if (!brev::writeGcode(outputPath, settings, code, error))
        return fail(WriteFailed, error);
    progress.endStage();
    return Ok;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail(OutOfMemory, "out of memory");
    } catch (const std::exception& e) {
        return fail(WriteFailed, e.what());
    }
}
