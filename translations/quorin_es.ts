<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es" sourcelanguage="en">
<context>
    <name>quorin::Alert</name>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Please enter all eight questions on the screening tool to receive accurate results.</source>
        <translation>Responda las ocho preguntas del cuestionario para obtener un resultado correcto.</translation>
    </message>
</context>
<context>
    <name>quorin::AlertPresenterAdapter</name>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Could not write to csv file!</source>
        <translation>¡No se pudo escribir en el archivo CSV!</translation>
    </message>
</context>
<context>
    <name>quorin::PageController</name>
    <message>
        <source>
Would you like more time?
</source>
        <translation>
¿Necesita más tiempo?
</translation>
    </message>
    <message>
        <source>Restart the screening tool?

Warning, any progress will be lost.</source>
        <translation>¿Volver a empezar el cuestionario?

Atención: se perderán todas las respuestas.</translation>
    </message>
    <message>
        <source>More Time</source>
        <translation>Más tiempo</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Empezar de nuevo</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Pages of the check-in</source>
        <translation>Páginas del cuestionario</translation>
    </message>
    <message>
        <source>Page indicator</source>
        <translation>Indicador de página</translation>
    </message>
    <message>
        <source>Read aloud</source>
        <translation>Leer en voz alta</translation>
    </message>
    <message>
        <source>Scroll the page</source>
        <translation>Desplazar la página</translation>
    </message>
</context>
<context>
    <name>quorin::PageDot</name>
    <message>
        <source>Page %1 of %2</source>
        <translation>Página %1 de %2</translation>
    </message>
</context>
<context>
    <name>quorin::QuorinAppDelegate</name>
    <message>
        <source>Could not open the kiosk&apos;s settings!

Answers are kept only while the kiosk runs; completed sessions are still written to the csv file.</source>
        <translation>¡No se pudo abrir la configuración del quiosco!

Las respuestas se guardan solo mientras el quiosco está en marcha; los cuestionarios terminados se siguen escribiendo en el archivo CSV.</translation>
    </message>
    <message>
        <source>Could not save the answers to disk!

They are kept while the kiosk runs, but would be lost if it stopped. Please tell staff.</source>
        <translation>¡No se pudieron guardar las respuestas en el disco!

Se conservan mientras el quiosco está en marcha, pero se perderían si se detuviera. Avise al personal.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>quorin::ReadingOrder</name>
    <message>
        <source>%1, selected</source>
        <translation>%1, seleccionado</translation>
    </message>
</context>
</TS>
