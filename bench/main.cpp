#include "benches.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchListView();
    benchVisualizza();
    return 0;
}
