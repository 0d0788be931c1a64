// The page's elements by id, looked up once by each view: { name: 'element-id' } gives
// { name: element }.
export function elementsById(ids) {
  return Object.fromEntries(Object.entries(ids).map(([name, id]) => [name, document.getElementById(id)]));
}
