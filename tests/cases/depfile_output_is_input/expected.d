in.xml: ./a.xml
./a.xml:
