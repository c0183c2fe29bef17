#pragma once

#include <QString>

// The service settings of Brindlehost, stored under organisation "Brindlemark", application
// "Brindlehost". Discovered paths live only in memory until the settings dialog is accepted.
struct ServiceSettings
{
    int port = 8000;
    int gpuLayers = 99;
    int threads = 0;          // 0 = automatic, no "-t"
    int contextSize = 8192;
    QString modelDir;
    QString llamaExe;
    QString modelFile;        // empty = choose automatically

    bool operator==(const ServiceSettings &other) const;
    bool operator!=(const ServiceSettings &other) const { return !(*this == other); }
};

// The files a model scan chose; both empty when nothing usable was found.
struct ModelFiles
{
    QString modelPath;
    QString mmprojPath;
};

ServiceSettings loadServiceSettings();
void saveServiceSettings(const ServiceSettings &settings);

// File name of the server program in the search places ("llama-server", ".exe" on Windows).
QString serverExecutableName();

// Fills an empty llamaExe and an empty modelDir from fixed places around appDir, the directory of
// the running executable.
void discoverPaths(ServiceSettings &settings, const QString &appDir);

// Picks the main model and its projector in settings.modelDir; false when there is no main model.
bool scanModels(const ServiceSettings &settings, ModelFiles &files);

// The alias passed to the server: the base name without a trailing quantisation tag.
QString modelDisplayName(const QString &modelPath);

// "server.log" in the model directory, else next to the executable in appDir.
QString logFilePath(const ServiceSettings &settings, const QString &appDir);

// Texts name the Windows program "llama-server.exe"; elsewhere the program has no suffix.
QString withServerExecutableName(QString text);
