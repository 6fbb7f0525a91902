'use strict';
// Draws the graph `xmlpp --graph` writes (Graphviz DOT) as SVG: files, fragments and macro
// sources as boxes in layers from left to right, each node one layer right of its furthest
// predecessor, with the edges as labelled arrows. Only the DOT the tool writes is read:
//   nK [label="...", shape=..., style=...];    nA -> nB [label="...", style=...];
// A graph with a cycle, or too large to draw legibly, is left to the caller to show as text.

(function (root) {
  const kMaxNodes = 200;
  const kFontSize = 12;
  const kEdgeFontSize = 10;
  const kLineHeight = 15;
  const kEdgeLineHeight = 12;
  const kPadX = 10;
  const kPadY = 7;
  const kNodeGap = 18;
  const kLabelGap = 4;
  const kMargin = 16;
  const kMinLayerGap = 60;
  const kArrowRoom = 16;
  const kCurveRoom = 50;

  // The attributes of "[a=b, c="d"]" as an object, with DOT's escapes in quoted values undone.
  function parseAttributes(text) {
    const attributes = {};
    const pattern = /(\w+)\s*=\s*(?:"((?:[^"\\]|\\.)*)"|([^,\]\s]+))/g;
    for (let match; (match = pattern.exec(text));) {
      attributes[match[1]] = match[2] === undefined
        ? match[3]
        : match[2].replace(/\\(.)/g, (_, c) => (c === 'n' || c === 'l' || c === 'r' ? '\n' : c));
    }
    return attributes;
  }

  // { nodes: [{ id, label, shape, style }], edges: [{ from, to, label, style }] } (from and to
  // are indexes into nodes).
  function parseDot(dot) {
    const nodes = [];
    const byId = new Map();
    const edges = [];
    const nodeOf = (id) => {
      if (!byId.has(id)) {
        byId.set(id, nodes.length);
        nodes.push({ id, label: id, shape: 'box', style: '' });
      }
      return byId.get(id);
    };
    for (const line of dot.split('\n')) {
      const edge = /^\s*(\w+)\s*->\s*(\w+)\s*(\[.*\])?\s*;?\s*$/.exec(line);
      if (edge) {
        const attributes = parseAttributes(edge[3] || '');
        edges.push({ from: nodeOf(edge[1]), to: nodeOf(edge[2]), label: attributes.label || '', style: attributes.style || '' });
        continue;
      }
      const node = /^\s*(\w+)\s*(\[.*\])\s*;?\s*$/.exec(line);
      if (!node || ['graph', 'node', 'edge'].includes(node[1])) continue;
      const attributes = parseAttributes(node[2]);
      const entry = nodes[nodeOf(node[1])];
      entry.label = attributes.label === undefined ? node[1] : attributes.label;
      entry.shape = attributes.shape || 'box';
      entry.style = attributes.style || '';
    }
    return { nodes, edges };
  }

  // Each node's layer: the longest path to it from a node without predecessors; null when the
  // graph has a cycle. A source other than the input (the command line, a macros file) moves
  // right to stand just before the nearest of the nodes it points at.
  function layers(graph) {
    const count = graph.nodes.length;
    const into = new Array(count).fill(0);
    const out = graph.nodes.map(() => []);
    for (const { from, to } of graph.edges) {
      out[from].push(to);
      into[to] += 1;
    }
    const layer = new Array(count).fill(0);
    const ready = [];
    for (let n = 0; n < count; ++n) if (into[n] === 0) ready.push(n);
    const sources = ready.slice();
    let done = 0;
    while (ready.length > 0) {
      const n = ready.shift();
      done += 1;
      for (const to of out[n]) {
        layer[to] = Math.max(layer[to], layer[n] + 1);
        if (--into[to] === 0) ready.push(to);
      }
    }
    if (done < count) return null;
    for (const n of sources) {
      if (graph.nodes[n].style === 'bold' || out[n].length === 0) continue;
      layer[n] = Math.min(...out[n].map((to) => layer[to])) - 1;
    }
    return layer;
  }

  function textWidth(text, size) {
    if (!textWidth.context && typeof document !== 'undefined') {
      textWidth.context = document.createElement('canvas').getContext('2d');
    }
    const context = textWidth.context;
    if (!context) return text.length * size * 0.6;
    context.font = `${size}px sans-serif`;
    return context.measureText(text).width;
  }

  const blockWidth = (lines, size) => Math.max(...lines.map((line) => textWidth(line, size)));

  // Edges of the same kind between the same two nodes are drawn as one, with the places of all
  // ("put\nboard.xml:39" and "put\nboard.xml:48" become "put\nboard.xml:39\nboard.xml:48").
  function mergeTwins(edges) {
    const merged = [];
    const byPair = new Map();
    for (const edge of edges) {
      const lines = edge.label.split('\n').filter((line) => line !== '');
      const key = `${edge.from} ${edge.to} ${edge.style}`;
      const twin = byPair.get(key);
      if (twin) {
        twin.lines.push(...(lines[0] === twin.lines[0] ? lines.slice(1) : lines));
        continue;
      }
      const entry = { from: edge.from, to: edge.to, style: edge.style, lines };
      byPair.set(key, entry);
      merged.push(entry);
    }
    return merged;
  }

  // Where everything goes: boxes ({ x, y, width, height, lines } for each node), edges ({ from,
  // to, style, lines, path, label: { x, y, width, height } or null }) and the drawing's size;
  // null when the graph cannot be laid out. An edge's label sits on its last, straight stretch,
  // just before the arrow; the labels of the edges into a node are stacked beside it, and the
  // node gets the height they need.
  function layout(graph) {
    if (graph.nodes.length === 0 || graph.nodes.length > kMaxNodes) return null;
    const layer = layers(graph);
    if (!layer) return null;
    const edges = mergeTwins(graph.edges);

    const boxes = graph.nodes.map((node) => {
      const lines = node.label.split('\n');
      const extra = node.shape === 'note' || node.shape === 'component' ? 8 : 0;
      return { lines, width: Math.ceil(blockWidth(lines, kFontSize)) + 2 * kPadX + extra, height: lines.length * kLineHeight + 2 * kPadY };
    });
    const incoming = graph.nodes.map(() => []);
    for (const edge of edges) {
      if (edge.lines.length > 0) {
        edge.label = { width: Math.ceil(blockWidth(edge.lines, kEdgeFontSize)) + 8, height: edge.lines.length * kEdgeLineHeight + 2 };
      } else edge.label = null;
      incoming[edge.to].push(edge);
    }
    // Each label stands on its edge's straight stretch, which runs just under it.
    const labelsHeight = (n) => incoming[n].reduce((sum, edge) => sum + (edge.label ? edge.label.height + kLabelGap : 0), -kLabelGap);
    // The stack is centred on the node by its edges (the first label's foot to the last's).
    const stackTop = (n) => {
      const first = incoming[n].find((edge) => edge.label);
      return -(labelsHeight(n) + (first ? first.label.height : 0)) / 2;
    };
    const tallest = (n) => Math.max(0, ...incoming[n].map((edge) => (edge.label ? edge.label.height : 0)));
    const slots = boxes.map((box, n) => Math.max(box.height, labelsHeight(n) + tallest(n)));

    // Order within a layer: by the mean position of the predecessors (fewer crossings), else as
    // the tool wrote them.
    const columns = [];
    graph.nodes.forEach((_, n) => (columns[layer[n]] = columns[layer[n]] || []).push(n));
    const rank = new Array(graph.nodes.length).fill(0);
    for (const column of columns) {
      const key = (n) => (incoming[n].length === 0 ? n / 1000 : incoming[n].reduce((sum, edge) => sum + rank[edge.from], 0) / incoming[n].length);
      const keys = new Map(column.map((n) => [n, key(n)]));
      column.sort((a, b) => keys.get(a) - keys.get(b) || a - b);
      column.forEach((n, at) => (rank[n] = at));
    }

    // The gap before a layer holds the labels of the edges into it, the arrows and the curves.
    const gaps = columns.map((column, at) => {
      const widths = edges.filter((edge) => layer[edge.to] === at && edge.label).map((edge) => edge.label.width);
      return at === 0 ? kMargin : Math.max(kMinLayerGap, Math.max(0, ...widths) + kArrowRoom + kCurveRoom);
    });
    const heights = columns.map((column) => column.reduce((sum, n) => sum + slots[n], 0) + (column.length - 1) * kNodeGap);
    const height = Math.max(...heights) + 2 * kMargin;
    let x = 0;
    columns.forEach((column, at) => {
      x += gaps[at];
      const width = Math.max(...column.map((n) => boxes[n].width));
      let y = (height - heights[at]) / 2;
      for (const n of column) {
        Object.assign(boxes[n], { x: x + (width - boxes[n].width) / 2, y: y + (slots[n] - boxes[n].height) / 2 });
        y += slots[n] + kNodeGap;
      }
      x += width;
    });
    const width = x + kMargin;

    for (const [n, into] of incoming.entries()) {
      const box = boxes[n];
      const middle = (edge) => boxes[edge.from].y + boxes[edge.from].height / 2;
      into.sort((a, b) => middle(a) - middle(b));
      let top = box.y + box.height / 2 + stackTop(n);
      for (const edge of into) {
        const from = boxes[edge.from];
        const start = { x: from.x + from.width, y: middle(edge) };
        let level = box.y + box.height / 2;
        if (edge.label) {
          level = top + edge.label.height;
          Object.assign(edge.label, { x: box.x - kArrowRoom - edge.label.width, y: top });
          top += edge.label.height + kLabelGap;
        }
        const end = { x: box.x, y: Math.min(Math.max(level, box.y + 5), box.y + box.height - 5) };
        const reach = edge.label ? edge.label.x - 2 : end.x;
        const bend = Math.max(0, Math.min(50, (reach - start.x) / 2));
        let path = `M${r(start.x)},${r(start.y)} C${r(start.x + bend)},${r(start.y)} ${r(reach - bend)},${r(level)} ${r(reach)},${r(level)}`;
        if (edge.label) {
          const after = edge.label.x + edge.label.width + 2;
          const room = (end.x - after) / 2;
          path += ` L${r(after)},${r(level)} C${r(after + room)},${r(level)} ${r(end.x - room)},${r(end.y)} ${r(end.x)},${r(end.y)}`;
        }
        edge.path = path;
      }
    }
    return { boxes, edges, width, height };
  }

  const r = (value) => Math.round(value * 10) / 10;

  // ---- SVG ----

  const kSvg = 'http://www.w3.org/2000/svg';

  function element(name, attributes, parent) {
    const node = document.createElementNS(kSvg, name);
    for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, String(value));
    if (parent) parent.appendChild(node);
    return node;
  }

  function textBlock(parent, lines, x, top, size, lineHeight, className) {
    const text = element('text', { x, y: top, 'font-size': size, 'text-anchor': 'middle', class: className }, parent);
    lines.forEach((line, n) => {
      const span = element('tspan', { x, y: top + (n + 0.75) * lineHeight }, text);
      span.textContent = line;
    });
    return text;
  }

  const kDashes = { dashed: '6 4', dotted: '2 3' };

  // The SVG element of a graph, or null when it cannot be laid out. `onNode(node)` is called
  // when a box is clicked.
  function drawGraph(graph, onNode) {
    const placed = layout(graph);
    if (!placed) return null;
    const [width, height] = [Math.ceil(placed.width), Math.ceil(placed.height)];
    const svg = element('svg', { xmlns: kSvg, class: 'graph', width, height, viewBox: `0 0 ${width} ${height}`, role: 'img' });
    const marker = element('marker', { id: 'arrow', viewBox: '0 0 10 10', refX: 10, refY: 5, markerWidth: 8, markerHeight: 8, orient: 'auto' }, element('defs', {}, svg));
    element('path', { d: 'M0,0 L10,5 L0,10 z', class: 'arrow-head' }, marker);

    for (const edge of placed.edges) {
      const path = element('path', { d: edge.path, class: 'edge', 'marker-end': 'url(#arrow)' }, svg);
      if (kDashes[edge.style]) path.setAttribute('stroke-dasharray', kDashes[edge.style]);
      if (!edge.label) continue;
      const { x, y, width: w, height: h } = edge.label;
      textBlock(svg, edge.lines, r(x + w / 2), r(y + 1), kEdgeFontSize, kEdgeLineHeight, 'edge-label');
    }
    graph.nodes.forEach((node, n) => {
      const { x, y, width: w, height: h, lines } = placed.boxes[n];
      const group = element('g', { class: `node shape-${node.shape}${node.style === 'bold' ? ' input' : ''}`, 'data-id': node.id }, svg);
      if (node.shape === 'note') {
        const fold = 8;
        element('path', { d: `M${r(x)},${r(y)} h${r(w - fold)} l${fold},${fold} v${r(h - fold)} h${r(-w)} z`, class: 'box' }, group);
      } else {
        element('rect', { x: r(x), y: r(y), width: r(w), height: r(h), rx: node.shape === 'component' ? 0 : 4, class: 'box' }, group);
        if (node.shape === 'component') {
          element('rect', { x: r(x - 4), y: r(y + 6), width: 8, height: 5, class: 'box' }, group);
          element('rect', { x: r(x - 4), y: r(y + h - 11), width: 8, height: 5, class: 'box' }, group);
        }
      }
      textBlock(group, lines, r(x + w / 2), r(y + kPadY), kFontSize, kLineHeight, 'node-label');
      element('title', {}, group).textContent = node.label;
      if (onNode) group.addEventListener('click', () => onNode(node));
    });
    return svg;
  }

  const api = { parseDot, layers, layout, drawGraph, kMaxNodes };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.playgroundGraph = api;
})(typeof self !== 'undefined' ? self : this);
