in.xml: ./a.xml
