#include "TablaPrueba.h"

#include "CodePage.h"
#include "DbfTable.h"

#include <gtest/gtest.h>

namespace zendral::test
{

void EscribirTabla(const std::filesystem::path& carpeta, const tablas::Disposicion& disposicion,
                   const std::vector<std::string>& campos, const std::vector<Fila>& filas)
{
    dbf::Table t(disposicion.nombre, carpeta, disposicion.nombre);
    tablas::Definir(t, disposicion);
    t.CreateTable();
    t.Open();
    for (const auto& fila : filas) {
        t.Append();
        for (std::size_t i = 0; i < fila.size(); ++i) {
            const dbf::FieldDef* campo = disposicion.Campo(campos.at(i));
            ASSERT_NE(campo, nullptr) << disposicion.nombre << " " << campos[i];
            if (!fila[i].empty() || campo->type == dbf::FieldType::String) {
                t.FieldByName(campos[i]).SetAsString(cp1252::FromUtf8(fila[i]));
            }
        }
        t.Post();
    }
    t.Close();
}

} // namespace zendral::test
