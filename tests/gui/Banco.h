#pragma once

#include "DbfTable.h"
#include "GuiPrompter.h"
#include "MainForm.h"
#include "TempDir.h"

#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>

namespace zendral::test
{

// Two courses (C1 with groups A and B, C2 with group A), one subject each, a teacher and a room.
extern const char* const kCentro;

// One main window against a fresh working directory (VTEMP with its saga folder), with Velorin.ini
// beside it and the centre document in saga.
struct Banco
{
    Banco();

    TMForm& Crear(const QStringList& argumentos = {});
    // The result file's text, or "(ninguno)" when it was not written.
    std::string Resultado() const;
    // A field of every record of a table in the working directory, in UTF-8, opened shared.
    QStringList Columna(const std::string& tabla, const std::string& campo) const;
    bool Existe(const std::string& archivo) const { return std::filesystem::exists(work / archivo); }

    TempDir dir;
    std::filesystem::path work;
    std::filesystem::path ini;
    std::filesystem::path centro;
    AyudaRegistrada ayuda;
    GuiPrompter prompter{ayuda};
    std::unique_ptr<TMForm> form;
};

} // namespace zendral::test
