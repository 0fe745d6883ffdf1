#include "Error.h"

#include <cerrno>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

namespace zendral
{

std::string SystemReason(int err)
{
    switch (err) {
    case ENOENT:
        return "no existe el archivo o el directorio";
    case EACCES:
    case EPERM:
        return "permiso denegado";
    case EROFS:
        return "el sistema de archivos es de solo lectura";
    case ENOSPC:
        return "no queda espacio en el disco";
#ifdef EDQUOT
    case EDQUOT:
        return "se ha superado la cuota de disco";
#endif
    case ENOTDIR:
        return "una parte de la ruta no es un directorio";
    case EISDIR:
        return "es un directorio";
    case EAGAIN:
    case EBUSY:
        return "está en uso por otro programa";
    case EIO:
        return "error de entrada/salida";
    case ENAMETOOLONG:
        return "el nombre es demasiado largo";
    case EMFILE:
    case ENFILE:
        return "hay demasiados archivos abiertos";
    case EFBIG:
        return "archivo demasiado grande";
    case EEXIST:
        return "ya existe un archivo con ese nombre";
#ifdef ELOOP
    case ELOOP:
        return "hay demasiados enlaces simbólicos en la ruta";
#endif
    case EXDEV:
        return "los archivos están en dispositivos distintos";
    case EINVAL:
        return "argumento no válido";
    case ENOTSUP:
        return "operación no admitida por el sistema de archivos";
    default:
        return "error del sistema número " + std::to_string(err);
    }
}

namespace
{

// A path as UTF-8 text, whatever the system's own code page cannot hold.
std::string Utf8(const std::filesystem::path& filePath)
{
    const std::u8string u8 = filePath.u8string();
    return std::string(reinterpret_cast<const char*>(u8.data()), u8.size());
}

} // namespace

std::string ExceptionMessage(const std::exception& e)
{
    if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
        return "No queda memoria suficiente para terminar el proceso";
    }
    const auto* systemText = dynamic_cast<const std::system_error*>(&e);
    if (systemText == nullptr) {
        return std::string("Error inesperado: ") + e.what();
    }
    // The portable meaning of the code, whatever system gave it.
    const std::error_condition condition = systemText->code().default_error_condition();
    const std::string reason = condition.category() == std::generic_category()
                                   ? SystemReason(condition.value())
                                   : "error del sistema número " + std::to_string(systemText->code().value());
    std::string text = "Error del sistema";
    if (const auto* files = dynamic_cast<const std::filesystem::filesystem_error*>(&e)) {
        if (!files->path1().empty()) {
            text += " con " + Utf8(files->path1());
        }
        if (!files->path2().empty()) {
            text += " y " + Utf8(files->path2());
        }
    }
    return text + ": " + reason;
}

} // namespace zendral
