#include "Error.h"

#include <cerrno>
#include <cstring>

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
    default:
        return std::strerror(err);
    }
}

} // namespace zendral
