out.xml: dir/in.xml dir/sub/a.xml dir/sub/../b.xml dir/sub/c.xml dir/./sub/../b.xml
dir/sub/a.xml:
dir/sub/../b.xml:
dir/sub/c.xml:
dir/./sub/../b.xml:
