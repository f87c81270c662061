#include "app/error.h"

#include <utility>

AppError::AppError(long number, QString description, QString source)
    : number_(number), description_(std::move(description)), source_(std::move(source)) {
    what_ = (QString::number(number_) + ' ' + description_ + ' ' + source_).toStdString();
}
