// Where the drum machine finds its assets: under the working directory, as on the handheld and in
// the source tree, or in the share folder of the prefix it was installed into.
#pragma once

#include <string>

// The folder that holds the assets, decided from two inputs: workingDir, the folder that relative
// paths start from ("." for the process's own), and exePath, the program's own file as
// /proc/self/exe names it ("" when unknown).
// - "assets" when workingDir/assets/gui.png exists (returned relative to workingDir);
// - else the installed folder beside the program, exePath's folder joined with the path from the
//   installed bin/ to the installed assets, when its gui.png exists;
// - else "assets", so that every missing file is reported by its usual name.
std::string chooseAssetFolder(const std::string& workingDir, const std::string& exePath);

// The program's choice, from its working directory and /proc/self/exe. It never changes
// directory, so a file named on the command line stays relative to where the user started.
std::string findAssetFolder();
