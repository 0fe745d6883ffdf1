#pragma once

// Fixed texts the user sees, in UTF-8.
namespace zendral::msg
{

inline constexpr const char* kTituloAplicacion = "Zendral";
inline constexpr const char* kProcesoFinalizado = "Proceso finalizado";
inline constexpr const char* kNoExisteArchivo = "No existe archivo";
inline constexpr const char* kFaltaDato = "¡Atención! Falta algún Dato";
inline constexpr const char* kSalida = "fuera";

inline constexpr const char* kTituloLineas = "Creación automática de Líneas de Asignaturas";
// Lines are joined by line feed + carriage return, in that order; the last line is 28 blanks
// followed by the question.
inline constexpr const char* kPreguntaLineas = "¿Quiere crear automáticamente las Líneas de Asignaturas \n\r"
                                               "que esta aplicación estime necesarias para cada Grupo? \n\r"
                                               "Seguramente se crearán más líneas de las necesarias, \n\r"
                                               "pero podrá eliminar las que considere innecesarias. \n\r"
                                               "                            ¿Crear Líneas?";

} // namespace zendral::msg
