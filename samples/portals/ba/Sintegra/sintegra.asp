<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>SEFAZ Bahia - SINTEGRA</title>
<style>
body { font-family: Tahoma, sans-serif; font-size: 13px; margin: 1.5em; }
</style>
</head>
<body>
<p><a href="/">Portal da SEFAZ</a> | <a href="/Sintegra/Ajuda.asp">Ajuda</a> | <a href="/Sintegra/Estados.asp">Outros estados</a></p>
<h2>SINTEGRA - Consulta Pública ao Cadastro do Estado da Bahia</h2>
<form id="consulta" method="post" action="/Sintegra/Result.asp">
  <input type="hidden" name="estado" value="BA">
  CNPJ: <input name="cnpj" size="20" value="56.789.012/0001-34">
  <input type="submit" value="Consultar">
</form>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
</body>
</html>
