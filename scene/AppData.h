#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "scene/PrintProfile.h"

class MeshModel;
struct MeshData;
class GcodePreviewData;

// The one object that holds the scene and the program's settings for the whole run.
// The scene it holds changes on the GUI thread only; workers hand their results over queued.
class AppData
{
public:
    static AppData* instance();
    void clearModels(bool all);

    // Settings that write through to setting.ini.
    void setBoxSize(double length, double width, double height, double diameter, double dHeight);
    void setLanguage(int language);
    void setPrintQuality(int quality);
    void setChoiceType(int type);
    void setTemperature(int t);
    void setHotbed(int t);
    void loadPrintProfile(int quality, PrintProfile& out);
    // False when setting.ini could not be written (the file stays as it was), with the reason
    // for the user in error.
    bool savePrintProfile(int quality, const PrintProfile& p, QString* error = nullptr);
    QString settingsFilePath() const { return settingsDir + "/setting.ini"; }

    // The slicing engine's ini, edited in place from the current print profile; on false,
    // error (when given) says why.
    bool writeEngineConfig(const QString& path, QString* error = nullptr);

    // Recent print-task files, kept in recentfile.ini of the program folder.
    void addRecentFile(const QString& name);

    // Plain accessors.
    int getChoiceType() const { return choiceType; }
    int getPrintQuality() const { return printQuality; }
    int getTemperature() const { return temperature; }
    int getHotbed() const { return hotbed; }
    int getLanguage() const { return language; }
    bool setEditMode(int mode);
    int getEditMode() const { return editMode; }
    void setSupportEditing(bool on);
    bool isSupportEditing() const { return supportEditing; }
    void setSupportDeleting(bool on) { supportDeleting = on; }
    bool isSupportDeleting() const { return supportDeleting; }
    void setReliefParameters(double sign, double a, double b, double c);
    const std::array<double, 4>& getReliefParameters() const { return reliefParams; }
    double getSupportSize() const { return supportSize; }
    void setSupportSize(double s) { supportSize = s; }
    double getSupportAngle() const { return supportAngle; }
    void setSupportAngle(double a) { supportAngle = a; }
    bool isSelectionEnabled() const { return selectionEnabled; }
    void setSelectionEnabled(bool on) { selectionEnabled = on; }
    int getSelectedIndex() const { return selectedIndex; }
    const QString& getAppDir() const { return appDir; }
    void setAppDir(const QString& d) { appDir = d; }
    const QString& getSettingsDir() const { return settingsDir; }
    void setSettingsDir(const QString& d) { settingsDir = d; }
    const QStringList& getRecentFiles() const { return recentFiles; }
    void setRecentFiles(const QStringList& l) { recentFiles = l; }
    GcodePreviewData* getGcodePreview() const { return gcodePreview; }
    double getBoxLength() const { return boxLength; }
    double getBoxWidth() const { return boxWidth; }
    double getBoxHeight() const { return boxHeight; }
    double getBoxDiameter() const { return boxDiameter; }
    double getBoxDHeight() const { return boxDHeight; }
    // Height of the build volume of the chosen machine (type 1 rectangular, else round).
    double machineHeight() const { return choiceType == 1 ? boxHeight : boxDHeight; }

    // Models.
    int modelCount() const { return int(models.size()); }
    const std::vector<MeshModel*>& getModels() const { return models; }
    MeshModel* getModel(int i) const;
    MeshModel* getSelectedModel() const { return getModel(selectedIndex); }
    MeshModel* findModel(const std::string& name) const;
    std::string getSelectedModelName() const;
    void selectModel(int i, int force = 0);
    void addModel(MeshModel* m);
    // Appends all, in order, and renews the colours once (a load's models).
    void addModels(const std::vector<MeshModel*>& added);
    void removeModel(int i);
    void removeModelByName(const char* name);
    void removeModelBySlot(int slot);
    void updateSelectionColours();
    void refresh();
    void makeNamesUnique();
    // Renames a model of the scene; its supports follow. A name another model has is
    // numbered instead.
    void renameModel(MeshModel* m, const std::string& name);
    bool allModelsInVolume() const;
    int countVisibleModels() const;
    std::array<double, 3> getSelectedCenter() const;
    double getMaxTop() const;
    void mergeVisibleModels(MeshData& out) const;
    // A digest of everything a slice is made from: each model's mesh, placement and
    // visibility, each support and the printer model. It is read from the scene itself, so a
    // change made by any route moves it on; an unchanged plate keeps it.
    uint64_t plateRevision() const;

    // Support objects.
    void commitSupport(MeshModel* s = nullptr);
    MeshModel* getSupport(int i) const;
    int supportCount() const { return int(supports.size()); }
    bool hasSupports() const { return !supports.empty(); }
    MeshModel* getWorkingObject() const { return workingObject; }
    void removeSupport(int i);
    void removeSupportsOf(const std::string& name);
    void removeAllSupports();
    void updateSupportFlag(const std::string& name);
    void clearSupportFlags();
    std::vector<std::array<double, 3>> getSupportPoints() const;

    // Meshes.
    void freeUnusedMeshes();
    void freeUnreferencedMeshes();

private:
    AppData();
    ~AppData();
    AppData(const AppData&) = delete;
    AppData& operator=(const AppData&) = delete;
    void freeMeshes(bool spareWorkingObject);
    void moveSelectionAfterRemoval(int removed);
    void setModelName(MeshModel* m, const std::string& name);
    void removeSupportsOwnedBy(const MeshModel* m);

    int selectedIndex = 0;
    std::vector<MeshModel*> models;
    std::vector<MeshModel*> supports;
    MeshModel* workingObject = nullptr;
    double supportSize = 2.0;
    double supportAngle = 60.0;
    bool supportEditing = false;
    bool supportDeleting = false;
    int language = 0;
    int printQuality = 1;
    double boxLength = 145.0;
    double boxWidth = 145.0;
    double boxHeight = 140.0;
    double boxDiameter = 150.0;
    double boxDHeight = 290.0;
    bool selectionEnabled = true;
    QString appDir;
    QString settingsDir;
    GcodePreviewData* gcodePreview = nullptr;
    std::array<double, 4> reliefParams{1.0, 2.0, 75.0, 1.28};
    int temperature = 210;
    int hotbed = 0;
    int choiceType = 0;
    int editMode = 0;
    QStringList recentFiles;
};
